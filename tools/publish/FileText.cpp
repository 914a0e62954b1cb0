#include "tools/publish/FileText.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "base/TempFile.h"

namespace orvex {

std::string ReadWholeFile(const std::string& fileName) {
    TFileStream stream(fileName, FileMode::OpenRead);
    std::string text;
    char buffer[65536];
    for (std::size_t got; (got = stream.Read(buffer, sizeof buffer)) != 0;) text.append(buffer, got);
    return text;
}

void WriteInPlace(const std::string& target, const std::function<void(TStream& output)>& write) {
    const auto delim = target.find_last_of("\\/");
    if (delim != std::string::npos && delim > 0)
        static_cast<void>(os::ForceDirectories(target.substr(0, delim)));  // shows at the write
    TTempFile temporary(target);
    {
        TFileStream stream(temporary.Name(), FileMode::Create);
        write(stream);
    }
    if (!temporary.Commit()) RaiseInOutError(os::LastError(), target);
}

void WriteFileInPlace(const std::string& target, const std::string& content) {
    WriteInPlace(target, [&content](TStream& output) { output.WriteBuffer(content.data(), content.size()); });
}

}  // namespace orvex
