#pragma once
// The stream model the program's file handling and decompression share.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

enum class SeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Returns the bytes transferred, which may be fewer than asked.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
    // Seeks to the end and back, so a stream that cannot seek to the end refuses it.
    virtual int64_t GetSize();

    int64_t GetPosition() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }

    // Exact transfers: raise EReadError / EWriteError when fewer bytes move.
    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count);
};

enum class FileMode {
    OpenRead,   // existing file, read access, others may read but not write
    Create,     // created or truncated, write access, no sharing
    Append,     // existing file, write access from its end on, no sharing
};

class TFileStream final : public TStream {
public:
    // Raises EFOpenError / EFCreateError with the OS's reason.
    TFileStream(const std::string& fileName, FileMode mode);
    ~TFileStream() override;

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

    const std::string& FileName() const { return FFileName; }

private:
    // The OS side (FileStream_posix.cpp, FileStream_win.cpp). OpenHandle gives -1 when the file
    // cannot be opened, with os::LastError() saying why.
    static std::intptr_t OpenHandle(const std::string& fileName, FileMode mode);
    void CloseHandle();

    std::string FFileName;
    std::intptr_t FHandle;
};

// The whole of a small file (a list, a signature, an index), read in one go.
std::vector<uint8_t> ReadFileBytes(const std::string& fileName);

}  // namespace orvex
