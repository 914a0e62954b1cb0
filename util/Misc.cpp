#include "util/Misc.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Path.h"
#include "base/Stream.h"

#include <array>
#include <cstdint>

namespace orvex {

TStringList SplitStr(const std::string& text, const std::string& delimiters) {
    TStringList fields;
    std::string rest = text;
    for (;;) {
        const auto delimiter = rest.find_last_of(delimiters);
        const std::size_t fieldStart = delimiter == std::string::npos ? 0 : delimiter + 1;
        if (fieldStart < rest.size()) fields.push_back(rest.substr(fieldStart));
        if (delimiter == std::string::npos) break;
        rest.resize(delimiter);
    }
    return fields;
}

int FindFrom(int start, const std::string& text, const std::string& pattern) {
    const int m = static_cast<int>(pattern.size());
    const int n = static_cast<int>(text.size());
    if (m == 0) return 0;
    // A start in front of the text would compare bytes before its beginning.
    if (start < 1) start = 1;
    // 1-based access, as the positions are counted.
    const auto p = [&](int k) { return static_cast<unsigned char>(pattern[static_cast<std::size_t>(k - 1)]); };
    const auto t = [&](int k) { return static_cast<unsigned char>(text[static_cast<std::size_t>(k - 1)]); };

    std::array<int, 256> shift;
    shift.fill(m);
    for (int k = m; k >= 1; --k)
        if (shift[p(k)] == m) shift[p(k)] = m - k;

    const unsigned char last = p(m);
    long long i = static_cast<long long>(start) + m - 1;
    while (i <= n) {
        const int at = static_cast<int>(i);
        if (t(at) != last) {
            i += shift[t(at)];
            continue;
        }
        if (m == 1) return at;
        int k = m - 1;
        while (k >= 1 && p(k) == t(at - m + k)) --k;
        if (k < 1) return at - m + 1;
        ++i;
    }
    return 0;
}

std::string ReplaceAll(const std::string& text, const std::string& oldText, const std::string& newText) {
    if (oldText.empty()) return text;
    std::string result;
    std::size_t from = 0;
    for (;;) {
        const auto found = text.find(oldText, from);
        if (found == std::string::npos) break;
        result.append(text, from, found - from);
        result += newText;
        from = found + oldText.size();
    }
    result.append(text, from, std::string::npos);
    return result;
}

bool RunFile(const std::string& path) {
    const auto delimiter = path.find_last_of("\\:");
    const std::string folder = delimiter == std::string::npos ? std::string() : path.substr(0, delimiter + 1);
    os::SetCurrentDir(folder);
    return detail::StartProgram(std::string(".") + os::PathDelim + path.substr(folder.size()));
}

void WriteUpdateBat(const std::string& name, uint32_t processId) {
    if (!IsBareFileName(name)) throw Exception("\"" + name + "\" cannot be written into Update.bat");
    // Only ASCII goes into the file: the command interpreter reads it in the OEM code page.
    const std::string quoted = Quoted(name);
    const bool swap = os::FileExists(name + ".New");
    std::string text = "@echo off\r\n";
    text += "taskkill /PID " + std::to_string(processId) + " /F > nul\r\n";
    text += "ping 127.0.0.1 -n 3 > nul\r\n";
    if (swap) {
        text += "del \"files.lst\"\r\n";
        text += "del " + quoted + "\r\n";
        text += "rename \"" + name + ".New\" " + quoted + "\r\n";
    }
    text += "start \"\" " + quoted + "\r\n";
    text += "del \"" + std::string(UpdateBatName) + "\"\r\n";
    TFileStream file(UpdateBatName, FileMode::Create);
    file.WriteBuffer(text.data(), text.size());
}

bool IsBareFileName(const std::string& name) {
    // Only the name itself counts here, not the length of the folder it lies in.
    const TInstallPlace anyFolder{0, SIZE_MAX, ""};
    return !RefusedSelfName(name, anyFolder).has_value();
}

}  // namespace orvex
