#include "UpdateArguments.h"

#include "update/RunSettings.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>

namespace orvex {

const char* const UpdateHelpText =
    "Brings a game installation up to date from its update server, as the launcher does.\n"
    "Reads _settings.ini in FOLDER (default: the current folder), which becomes the current folder.\n"
    "Exit status: 0 updated or nothing to do, 1 the update failed, 2 bad usage, no settings file or\n"
    "another update running in the folder.\n"
    "Usage: orvex-update [OPTIONS] [FOLDER]\n"
    "\n"
    "Positionals:\n"
    "  FOLDER TEXT                 the installation folder (holds _settings.ini)\n"
    "\n"
    "Options:\n"
    "  -h,--help                   Print this help message and exit\n"
    "  --version                   Print the program's name and version and exit\n"
    "  --full                      compare every listed file, as the launcher's check button does\n"
    "  --hosts-file TEXT           apply the update list's host entries to this file (Linux: without it they are not applied)\n"
    "  --threads UINT:UINT in [1 - 64]\n"
    "                              threads for checking, fetching and unpacking (default: one per core)\n"
    "  --max-rate TEXT             bytes per second over all downloads, K or M for KiB or MiB, 0 for none\n"
    "                              (default: MaxRate in _settings.ini)\n"
    "  -v,--verbose                also each file's details: how much of a file built from chunks was\n"
    "                              reused and how much downloaded\n"
    "\n";

namespace {

constexpr unsigned MaxThreads = 64;

bool StartsOptionName(char c) { return c != '-' && c != '!' && c != ' ' && c != '\n'; }

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// A value given to --full ("--full=no"), as the words people write for yes and no; "--full=" is yes.
std::optional<bool> FlagValue(const std::string& value) {
    const std::string word = Lower(value);
    for (const char* yes : {"", "1", "t", "y", "+", "true", "on", "yes", "enable"})
        if (word == yes) return true;
    for (const char* no : {"0", "f", "n", "-", "false", "off", "no", "disable"})
        if (word == no) return false;
    if (word.size() == 1 && word[0] >= '2' && word[0] <= '9') return true;
    return std::nullopt;
}

// A thread count as a number in decimal, octal (0...) or hexadecimal (0x...), within 1 to 64.
std::optional<unsigned> ThreadCount(const std::string& value) {
    if (value.empty() || value[0] == '-') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long count = std::strtoull(value.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || count < 1 || count > MaxThreads) return std::nullopt;
    return static_cast<unsigned>(count);
}

struct TOptionName {
    std::string Name;  // "help", "h", "full", ...; "" for a positional argument
    std::optional<std::string> Value;  // given with "=" (or ":" after "/name")
};

TOptionName NameOf(const std::string& arg, bool slashOptions) {
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0 && StartsOptionName(arg[2])) {
        const auto equals = arg.find('=');
        if (equals == std::string::npos) return {arg.substr(2), std::nullopt};
        return {arg.substr(2, equals - 2), arg.substr(equals + 1)};
    }
    if (arg.size() > 1 && arg[0] == '-' && StartsOptionName(arg[1])) {
        if (arg[1] == 'h') return {"h", std::nullopt};
        if (arg == "-v") return {"verbose", std::nullopt};
        // "-1" is a folder's name, not an option: there are no digit options.
        if (arg[1] >= '0' && arg[1] <= '9') return {};
        return {"-", std::nullopt};  // an unknown short option
    }
    if (slashOptions && arg.size() > 1 && arg[0] == '/' && StartsOptionName(arg[1])) {
        const auto colon = arg.find(':');
        if (colon == std::string::npos) return {arg.substr(1), std::nullopt};
        return {arg.substr(1, colon - 1), arg.substr(colon + 1)};
    }
    return {};
}

TParsedArguments Refused(std::string error) {
    TParsedArguments parsed;
    parsed.Action = TParsedArguments::TAction::Refuse;
    parsed.Error = std::move(error);
    return parsed;
}

// What the command line names, before any value is checked.
struct TCollected {
    bool Help = false;
    bool Version = false;
    bool Verbose = false;
    std::vector<std::string> FullValues, HostsFiles, Threads, MaxRates, Positionals, Unexpected;
    std::string Refusal;  // an option's value missing at the end
};

TCollected Collect(const std::vector<std::string>& args, bool slashOptions) {
    TCollected c;
    bool positionalsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!positionalsOnly && arg == "--") {
            positionalsOnly = true;
            continue;
        }
        const TOptionName option = positionalsOnly ? TOptionName{} : NameOf(arg, slashOptions);
        if (option.Name.empty()) {
            (c.Positionals.empty() ? c.Positionals : c.Unexpected).push_back(arg);
        } else if (option.Name == "h" || option.Name == "help") {
            c.Help = true;
        } else if (option.Name == "version" && !option.Value) {
            c.Version = true;
        } else if ((option.Name == "verbose" || option.Name == "v") && !option.Value) {
            c.Verbose = true;
        } else if (option.Name == "full") {
            c.FullValues.push_back(option.Value.value_or("true"));
        } else if (option.Name == "hosts-file" || option.Name == "threads" || option.Name == "max-rate") {
            const bool isThreads = option.Name == "threads";
            if (!option.Value && i + 1 >= args.size()) {
                c.Refusal = isThreads ? "--threads: 1 required UINT:UINT in [1 - 64] missing"
                                      : "--" + option.Name + ": 1 required TEXT missing";
                return c;
            }
            std::vector<std::string>& values = isThreads ? c.Threads : option.Name == "max-rate" ? c.MaxRates : c.HostsFiles;
            values.push_back(option.Value ? *option.Value : args[++i]);
        } else {
            c.Unexpected.push_back(arg);
        }
    }
    return c;
}

}  // namespace

TParsedArguments ParseUpdateArguments(const std::vector<std::string>& args, bool slashOptions) {
    const TCollected c = Collect(args, slashOptions);
    if (!c.Refusal.empty()) return Refused(c.Refusal);

    // Checked in the order --help lists the options; an unexpected argument only after --help.
    TParsedArguments parsed;
    TUpdateArguments& result = parsed.Arguments;
    for (const std::string& value : c.FullValues) {
        const auto full = FlagValue(value);
        if (!full) return Refused("Could not convert: --full = " + value);
        result.FullCheck = *full;
    }
    const auto atMostOne = [](const char* name, std::size_t count) {
        return Refused(std::string(name) + ": At Most 1 required but received " + std::to_string(count));
    };
    if (c.HostsFiles.size() > 1) return atMostOne("--hosts-file", c.HostsFiles.size());
    if (!c.HostsFiles.empty()) result.HostsFile = c.HostsFiles[0];
    for (const std::string& value : c.Threads) {
        const auto count = ThreadCount(value);
        if (!count) return Refused("--threads: Value " + value + " not in range 1 to 64");
        result.Threads = *count;
    }
    if (c.Threads.size() > 1) return atMostOne("--threads", c.Threads.size());
    if (c.MaxRates.size() > 1) return atMostOne("--max-rate", c.MaxRates.size());
    if (!c.MaxRates.empty()) {
        result.MaxRate = RateValue(c.MaxRates[0]);
        if (!result.MaxRate || c.MaxRates[0].empty())
            return Refused("--max-rate: " + c.MaxRates[0] + " is not a rate (bytes per second, e.g. 512K or 2M)");
    }
    if (!c.Positionals.empty()) result.Folder = c.Positionals[0];
    result.Verbose = c.Verbose;
    if (c.Help) {
        parsed.Action = TParsedArguments::TAction::ShowHelp;
        return parsed;
    }
    if (c.Version) {
        parsed.Action = TParsedArguments::TAction::ShowVersion;
        return parsed;
    }
    if (!c.Unexpected.empty()) {
        std::string error = c.Unexpected.size() == 1 ? "The following argument was not expected:"
                                                    : "The following arguments were not expected:";
        for (const std::string& arg : c.Unexpected) error += " " + arg;
        return Refused(error);
    }
    return parsed;
}

}  // namespace orvex
