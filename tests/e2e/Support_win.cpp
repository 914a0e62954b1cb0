#include "Support.h"

#include "base/Win32_win.h"

#include <windows.h>
#include <wininet.h>

#include <stdexcept>

namespace orvex::test {

// Wine maps the Unix root to drive Z:.
std::string HostPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool ReadsInBlocksOf1024() { return true; }

bool SeesCutChunkedBodies() { return false; }

std::optional<bool> InInternetCache(const std::string& url) {
    DWORD size = 0;
    if (::GetUrlCacheEntryInfoA(url.c_str(), nullptr, &size)) return true;
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

namespace {

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// hold_open.exe, built beside this program, holds the file until its signal file is deleted.
class ProcessHolder final : public FileHolder {
public:
    explicit ProcessHolder(const std::string& path) : FSignal(path + ".held") {
        char self[MAX_PATH];
        const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string folder(self, length);
        folder.resize(folder.find_last_of('\\') + 1);
        std::string command = "\"" + folder + "hold_open.exe\" \"" + path + "\" \"" + FSignal + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
            throw std::runtime_error("cannot start " + command);
        const win32::THandle thread(started.hThread);
        FProcess = win32::THandle(started.hProcess);
        for (int i = 0; i < 300 && !Exists(FSignal); ++i) {
            if (::WaitForSingleObject(FProcess.Get(), 100) == WAIT_OBJECT_0) break;
        }
        if (!Exists(FSignal)) throw std::runtime_error("hold_open did not take " + path);
    }
    ~ProcessHolder() override {
        ::DeleteFileA(FSignal.c_str());
        ::WaitForSingleObject(FProcess.Get(), 30000);
    }

private:
    std::string FSignal;
    win32::THandle FProcess;
};

}  // namespace

std::unique_ptr<FileHolder> HoldOpenElsewhere(const std::string& path) { return std::make_unique<ProcessHolder>(path); }

}  // namespace orvex::test
