#include "base/IniText.h"

#include "base/Text.h"

#include <vector>

namespace orvex::ini {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

enum class LineKind { Blank, Header, Key };

struct Line {
    std::size_t begin;      // offset of the text in the content
    std::size_t end;        // end of the text, before the line end
    std::size_t next;       // offset of the following line
    LineKind kind;
    std::string name;       // section or key name, trimmed
    std::size_t equals;     // offset of "=" in a key line, npos without one
};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

Line Classify(std::string_view content, std::size_t begin, std::size_t end, std::size_t next) {
    Line line{begin, end, next, LineKind::Blank, {}, std::string_view::npos};
    const std::string_view text = content.substr(begin, end - begin);
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) return line;
    if (trimmed.front() == '[') {
        const auto close = trimmed.rfind(']');
        if (close != std::string::npos) {
            line.kind = LineKind::Header;
            line.name = Trim(std::string_view(trimmed).substr(1, close - 1));
            return line;
        }
    }
    line.kind = LineKind::Key;
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        line.name = trimmed;
    } else {
        line.name = Trim(text.substr(0, equals));
        line.equals = begin + equals;
    }
    return line;
}

// Lines split at "\n"; a "\r" before it belongs to the line end, not to the text.
std::vector<Line> SplitLines(std::string_view content, std::size_t start) {
    std::vector<Line> lines;
    std::size_t begin = start;
    while (begin < content.size()) {
        const auto newline = content.find('\n', begin);
        const std::size_t next = newline == std::string_view::npos ? content.size() : newline + 1;
        std::size_t end = newline == std::string_view::npos ? content.size() : newline;
        if (end > begin && content[end - 1] == '\r' && newline != std::string_view::npos) --end;
        lines.push_back(Classify(content, begin, end, next));
        begin = next;
    }
    return lines;
}

std::size_t ContentStart(std::string_view content) {
    return content.substr(0, Utf8Bom.size()) == Utf8Bom ? Utf8Bom.size() : 0;
}

// The lines of the first section of that name: [first, last). Lines before any header form the
// section with the empty name.
struct SectionRange {
    bool found = false;
    std::size_t header = 0;  // index of the header line (meaningless for the unnamed section)
    std::size_t first = 0;
    std::size_t last = 0;
};

SectionRange FindSection(const std::vector<Line>& lines, std::string_view section) {
    SectionRange range;
    bool inside = section.empty();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Header) {
            if (inside) {
                range.found = true;
                range.last = i;
                return range;
            }
            if (SameTextAscii(lines[i].name, section)) {
                inside = true;
                range.header = i;
                range.first = i + 1;
            }
        }
    }
    if (inside) {
        range.found = true;
        range.last = lines.size();
    }
    return range;
}

const Line* FindKey(const std::vector<Line>& lines, const SectionRange& range, std::string_view key) {
    for (std::size_t i = range.first; i < range.last; ++i)
        if (lines[i].kind == LineKind::Key && SameTextAscii(lines[i].name, key)) return &lines[i];
    return nullptr;
}

std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// New lines follow the file's own line ends; a file without any gets CR LF.
std::string_view LineEnd(std::string_view content) {
    const auto newline = content.find('\n');
    if (newline != std::string_view::npos && (newline == 0 || content[newline - 1] != '\r')) return "\n";
    return "\r\n";
}

}  // namespace

std::optional<std::string> FindValue(std::string_view content, std::string_view section, std::string_view key) {
    const auto lines = SplitLines(content, ContentStart(content));
    const auto range = FindSection(lines, Trim(section));
    if (!range.found) return std::nullopt;
    const Line* line = FindKey(lines, range, Trim(key));
    if (!line || line->equals == std::string_view::npos) return std::nullopt;
    std::string value = Unquote(Trim(content.substr(line->equals + 1, line->end - line->equals - 1)));
    if (value.size() > MaxValueLength) value.resize(MaxValueLength);
    return value;
}

std::string CleanDefault(std::string_view defaultValue) {
    while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
    std::string value = Unquote(std::string(defaultValue));
    if (value.size() > MaxValueLength) value.resize(MaxValueLength);
    return value;
}

std::string SetValue(std::string_view content, std::string_view section, std::string_view key,
                     std::string_view value) {
    const std::string sectionName = Trim(section);
    const std::string keyName = Trim(key);
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    const std::string_view lineEnd = LineEnd(content);
    const auto lines = SplitLines(content, ContentStart(content));
    const auto range = FindSection(lines, sectionName);

    std::string result;
    result.reserve(content.size() + keyName.size() + value.size() + sectionName.size() + 8);
    if (!range.found) {
        result.append(content);
        if (!result.empty() && result.back() != '\n' && result != Utf8Bom) result.append(lineEnd);
        result.append("[").append(sectionName).append("]").append(lineEnd);
        result.append(keyName).append("=").append(value).append(lineEnd);
        return result;
    }

    if (const Line* line = FindKey(lines, range, keyName)) {
        if (line->equals != std::string_view::npos &&
            Trim(content.substr(line->equals + 1, line->end - line->equals - 1)) == value)
            return std::string(content);
        // The key keeps the spelling it has in the file.
        result.append(content.substr(0, line->begin));
        result.append(line->name).append("=").append(value);
        result.append(content.substr(line->end));
        return result;
    }

    // After the last non-blank line of the section, so blank lines that separate it stay after it.
    std::size_t insertAt = range.first == 0 ? ContentStart(content) : lines[range.header].next;
    bool needsLineEnd = range.first != 0 && lines[range.header].next == lines[range.header].end;
    for (std::size_t i = range.first; i < range.last; ++i) {
        if (lines[i].kind != LineKind::Blank) {
            insertAt = lines[i].next;
            needsLineEnd = lines[i].next == lines[i].end;
        }
    }
    result.append(content.substr(0, insertAt));
    if (needsLineEnd) result.append(lineEnd);
    result.append(keyName).append("=").append(value).append(lineEnd);
    result.append(content.substr(insertAt));
    return result;
}

}  // namespace orvex::ini
