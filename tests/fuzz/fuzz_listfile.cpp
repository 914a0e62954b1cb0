// Feeds arbitrary bytes to the update-list reader through a file, and checks that the same bytes
// read from memory, as the launcher reads them, give the same answers.
#include "formats/LstFile.h"
#include "util/Misc.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// An in-memory file reachable by name, so the fuzzer leaves nothing on disk.
int ListFd() {
    static const int fd = ::memfd_create("fuzz_listfile", 0);
    return fd;
}

bool Trimmed(const std::string& line) {
    return !line.empty() && static_cast<unsigned char>(line.front()) > ' ' &&
           static_cast<unsigned char>(line.back()) > ' ';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const int fd = ListFd();
    if (fd < 0 || ::ftruncate(fd, 0) != 0) __builtin_trap();
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (put <= 0) __builtin_trap();
        done += static_cast<std::size_t>(put);
    }
    orvex::TListFile list("/proc/self/fd/" + std::to_string(fd));
    orvex::TListFile inMemory = orvex::TListFile::FromText(std::string(reinterpret_cast<const char*>(data), size));
    const std::string rev = list.GetValue("settings", "Rev");
    const std::string modHosts = list.GetValue("settings", "ModHosts");
    if (rev.find('|') != std::string::npos || modHosts.find('|') != std::string::npos) __builtin_trap();
    if (inMemory.GetValue("settings", "Rev") != rev || inMemory.GetValue("settings", "ModHosts") != modHosts)
        __builtin_trap();
    for (const char* name : {"hosts", "self", "files_critical", "files_normal"}) {
        const orvex::TStringList lines = list.GetSection(name);
        if (lines.empty()) __builtin_trap();  // "FAIL" stands for no entries
        if (inMemory.GetSection(name) != lines) __builtin_trap();
        for (const std::string& line : lines) {
            if (!Trimmed(line)) __builtin_trap();
            for (const std::string& field : orvex::SplitStr(line, "|"))
                if (field.empty() || field.find('|') != std::string::npos) __builtin_trap();
        }
    }
    return 0;
}
