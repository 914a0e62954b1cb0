#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include "base/Shell.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Win32_win.h"

#include <vector>

namespace orvex::os {

namespace {

using win32::TComPtr;

void CheckCom(HRESULT result) {
    if (FAILED(result)) throw Exception(ErrorText(static_cast<int>(result)));
}

void MakeShellLink(TComPtr<IShellLinkA>& link, TComPtr<IPersistFile>& file) {
    CheckCom(::CoCreateInstance(__uuidof(ShellLink), nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                __uuidof(IShellLinkA), link.Out()));
    CheckCom(link->QueryInterface(__uuidof(IPersistFile), file.Out()));
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

// COM stays initialised for the calling thread until the shell link is released; a thread that has
// it already just counts once more.
void WriteShortcut(const std::string& path, const TShortcut& shortcut) {
    const win32::TComInit com;
    TComPtr<IShellLinkA> link;
    TComPtr<IPersistFile> file;
    MakeShellLink(link, file);
    link->SetDescription(shortcut.Description.c_str());
    link->SetPath(shortcut.Target.c_str());
    link->SetWorkingDirectory(shortcut.WorkingFolder.c_str());
    file->Save(win32::Widen(path, CP_ACP).c_str(), FALSE);
}

TShortcut ReadShortcut(const std::string& path) {
    const win32::TComInit com;
    TComPtr<IShellLinkA> link;
    TComPtr<IPersistFile> file;
    MakeShellLink(link, file);
    CheckCom(file->Load(win32::Widen(path, CP_ACP).c_str(), STGM_READ));
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

}  // namespace orvex::os
