#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include "base/Shell.h"

#include "base/Exceptions.h"
#include "base/Os.h"

#include <vector>

namespace orvex::os {

namespace {

// A COM interface pointer released on every path.
template <class T>
class TComPtr {
public:
    TComPtr() = default;
    ~TComPtr() {
        if (FPtr) FPtr->Release();
    }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    T* operator->() const { return FPtr; }
    void** Out() { return reinterpret_cast<void**>(&FPtr); }

private:
    T* FPtr = nullptr;
};

void CheckCom(HRESULT result) {
    if (FAILED(result)) throw Exception(ErrorText(static_cast<int>(result)));
}

std::wstring Wide(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> buffer(length > 0 ? length : 1);
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), static_cast<int>(buffer.size()));
    return buffer.data();
}

void MakeShellLink(TComPtr<IShellLinkA>& link, TComPtr<IPersistFile>& file) {
    CheckCom(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IShellLinkA, link.Out()));
    CheckCom(link->QueryInterface(IID_IPersistFile, file.Out()));
}

}  // namespace

const char* const ShortcutExtension = ".lnk";

std::string DesktopFolder() {
    char buffer[MAX_PATH + 1] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_DESKTOPDIRECTORY, FALSE)) return std::string();
    std::string folder(buffer, ::strnlen(buffer, 255));
    return DirectoryExists(folder) ? folder : std::string();
}

std::string ProgramFileName() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

void WriteShortcut(const std::string& path, const TShortcut& shortcut) {
    TComPtr<IShellLinkA> link;
    TComPtr<IPersistFile> file;
    MakeShellLink(link, file);
    link->SetDescription(shortcut.Description.c_str());
    link->SetPath(shortcut.Target.c_str());
    link->SetWorkingDirectory(shortcut.WorkingFolder.c_str());
    file->Save(Wide(path).c_str(), FALSE);
}

TShortcut ReadShortcut(const std::string& path) {
    TComPtr<IShellLinkA> link;
    TComPtr<IPersistFile> file;
    MakeShellLink(link, file);
    CheckCom(file->Load(Wide(path).c_str(), STGM_READ));
    char text[INFOTIPSIZE + 1] = {};
    TShortcut shortcut;
    CheckCom(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH));
    shortcut.Target = text;
    text[0] = 0;
    CheckCom(link->GetWorkingDirectory(text, MAX_PATH));
    shortcut.WorkingFolder = text;
    text[0] = 0;
    CheckCom(link->GetDescription(text, INFOTIPSIZE));
    shortcut.Description = text;
    return shortcut;
}

TComScope::TComScope() : FInitialised(SUCCEEDED(::CoInitialize(nullptr))) {}
TComScope::~TComScope() {
    if (FInitialised) ::CoUninitialize();
}

}  // namespace orvex::os
