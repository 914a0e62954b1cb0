// hold_open FILE SIGNAL: opens FILE for reading without delete sharing (as a running game or a
// virus scanner would), creates SIGNAL once it holds it, and keeps it open until SIGNAL is gone
// again or a minute has passed.
#include "base/Win32_win.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const orvex::win32::THandle held(::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held.Valid()) return 1;
    {
        const orvex::win32::THandle signal(
            ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!signal.Valid()) return 1;
    }
    for (int i = 0; i < 600 && ::GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(100);
    return 0;
}
