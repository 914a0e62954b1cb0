#pragma once
// orvex-update's command line: [--full] [--hosts-file PATH] [--threads N] [--max-rate RATE] [-v]
// [FOLDER], read the way its users have always typed it ("--name value", "--name=value", "--" before
// a folder that starts with "-", and on Windows also "/name" and "/name:value").
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct TUpdateArguments {
    bool FullCheck = false;
    std::string HostsFile;  // as given; "" when not given
    unsigned Threads = 0;   // 0: one per core
    std::optional<uint64_t> MaxRate;  // bytes per second; nothing: the settings file's MaxRate
    std::string Folder;     // "": the current folder
    bool Verbose = false;   // each file's details too
};

struct TParsedArguments {
    enum class TAction { Run, ShowHelp, ShowVersion, Refuse };
    TAction Action = TAction::Run;
    TUpdateArguments Arguments;
    std::string Error;  // for Refuse: what was wrong, one line
};

// args without the program's name. slashOptions: "/name" names an option too.
TParsedArguments ParseUpdateArguments(const std::vector<std::string>& args, bool slashOptions);

// What --help prints.
extern const char* const UpdateHelpText;

// Whether this system's programs take "/name" options (Windows).
bool SlashOptionsTaken();

// path made absolute against the current folder, so that it names the same file after the tool has
// entered the installation folder.
std::string AbsolutePath(const std::string& path);

}  // namespace orvex
