#include "base/Shell.h"

#include "base/Exceptions.h"
#include "base/Os.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvex::os {

namespace {

// Escapes for a desktop entry's value: backslash and line breaks.
std::string EntryValue(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (c == '\\') result += "\\\\";
        else if (c == '\n') result += "\\n";
        else if (c == '\r') result += "\\r";
        else result += c;
    }
    return result;
}

std::string UnescapeValue(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            result += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 's' ? ' ' : next;
        } else {
            result += text[i];
        }
    }
    return result;
}

// The program as one quoted argument of Exec, quoted as desktop entries require.
std::string QuotedArgument(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') result += '\\';
        result += c;
    }
    return result + "\"";
}

std::string UnquoteArgument(const std::string& text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
    std::string result;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == '\\' && i + 2 < text.size()) ++i;
        result += text[i];
    }
    return result;
}

}  // namespace

const char* const ShortcutExtension = ".desktop";

namespace {

// The shown name: the file name without folder and extension.
std::string EntryName(const std::string& nativePath) {
    std::string name = nativePath.substr(nativePath.find_last_of('/') + 1);
    const std::string extension = ShortcutExtension;
    if (name.size() >= extension.size() && name.ends_with(extension)) name.resize(name.size() - extension.size());
    return name;
}

}  // namespace

std::string DesktopFolder() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::string();
    const std::string folder = std::string(home) + "/Desktop";
    return DirectoryExists(folder) ? folder : std::string();
}

std::string ProgramFileName() {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    return length > 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : std::string();
}

void WriteShortcut(const std::string& path, const TShortcut& shortcut) {
    const std::string native = NativePath(path);
    std::ofstream out(native, std::ios::binary | std::ios::trunc);
    if (!out) return;
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << EntryValue(EntryName(native)) << "\n"
        << "Comment=" << EntryValue(shortcut.Description) << "\n"
        << "Exec=" << EntryValue(QuotedArgument(shortcut.Target)) << "\n"
        << "Path=" << EntryValue(NativePath(shortcut.WorkingFolder)) << "\n"
        << "Terminal=false\n";
    out.close();
    // Desktops start only entries marked executable.
    ::chmod(native.c_str(), 0755);
}

TShortcut ReadShortcut(const std::string& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) throw Exception("Cannot read " + path);
    TShortcut shortcut;
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = UnescapeValue(line.substr(equals + 1));
        if (key == "Comment") shortcut.Description = value;
        else if (key == "Exec") shortcut.Target = UnquoteArgument(value);
        else if (key == "Path") shortcut.WorkingFolder = value;
    }
    return shortcut;
}

}  // namespace orvex::os
