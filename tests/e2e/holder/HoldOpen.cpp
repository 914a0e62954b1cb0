// hold_open FILE SIGNAL: opens FILE for reading without delete sharing (as a running game or a
// virus scanner would), creates SIGNAL once it holds it, and keeps it open until SIGNAL is gone
// again or a minute has passed.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const HANDLE held = ::CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    const HANDLE signal = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (signal == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(signal);
    for (int i = 0; i < 600 && ::GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(100);
    ::CloseHandle(held);
    return 0;
}
