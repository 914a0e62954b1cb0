#include "base/Stream.h"

#include "base/Exceptions.h"
#include "base/Os.h"

namespace orvex {

int64_t TStream::GetSize() {
    const int64_t position = Seek(0, SeekOrigin::Current);
    const int64_t size = Seek(0, SeekOrigin::End);
    Seek(position, SeekOrigin::Beginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t got = Read(out + done, count - done);
        if (got == 0) throw EReadError(SReadError);
        done += got;
    }
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t put = Write(in + done, count - done);
        if (put == 0) throw EWriteError(SWriteError);
        done += put;
    }
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName) {
    TFileStream file(fileName, FileMode::OpenRead);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(file.GetSize()));
    if (!bytes.empty()) file.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

TFileStream::TFileStream(const std::string& fileName, FileMode mode)
    : FFileName(fileName), FHandle(OpenHandle(fileName, mode)) {
    if (FHandle == -1) {
        const std::string reason = os::ErrorText(os::LastError());
        if (mode == FileMode::Create) throw EFCreateError(Format(SFCreateError, fileName.c_str(), reason.c_str()));
        throw EFOpenError(Format(SFOpenError, fileName.c_str(), reason.c_str()));
    }
    if (mode != FileMode::Append) return;
    try {
        Seek(0, SeekOrigin::End);
    } catch (...) {
        CloseHandle();  // the destructor does not run for a constructor that throws
        throw;
    }
}

TFileStream::~TFileStream() { CloseHandle(); }

}  // namespace orvex
