#include "tools/orvex-update/UpdateArguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvex;

namespace {

using TAction = TParsedArguments::TAction;

struct TCase {
    std::vector<std::string> Args;
    bool Slash;
    TAction Action;
    std::string Expected;  // for Run: full|hosts|threads|folder[|verbose][|rate]; otherwise the error ("" for help)
};

std::string Summary(const TParsedArguments& parsed) {
    if (parsed.Action != TAction::Run) return parsed.Error;
    const TUpdateArguments& a = parsed.Arguments;
    return std::to_string(a.FullCheck) + "|" + a.HostsFile + "|" + std::to_string(a.Threads) + "|" + a.Folder +
           (a.Verbose ? "|verbose" : "") + (a.MaxRate ? "|" + std::to_string(*a.MaxRate) : "");
}

}  // namespace

TEST(UpdateArguments, OptionsFolderHelpAndRefusals) {
    const std::vector<TCase> cases = {
        {{}, false, TAction::Run, "0||0|"},
        {{"--full", "--hosts-file", "h.txt", "--threads", "8", "C:\\Game"}, false, TAction::Run, "1|h.txt|8|C:\\Game"},
        {{"--hosts-file=-h", "--threads=0x10", "--full=no"}, false, TAction::Run, "0|-h|16|"},
        {{"--threads", "-1"}, false, TAction::Refuse, "--threads: Value -1 not in range 1 to 64"},
        {{"--threads", "65"}, false, TAction::Refuse, "--threads: Value 65 not in range 1 to 64"},
        {{"--threads", "4x"}, false, TAction::Refuse, "--threads: Value 4x not in range 1 to 64"},
        {{"--threads", "2", "--threads", "3"}, false, TAction::Refuse, "--threads: At Most 1 required but received 2"},
        {{"--hosts-file", "a", "--hosts-file", "b"}, false, TAction::Refuse,
         "--hosts-file: At Most 1 required but received 2"},
        {{"--help", "--threads"}, false, TAction::Refuse, "--threads: 1 required UINT:UINT in [1 - 64] missing"},
        {{"--hosts-file"}, false, TAction::Refuse, "--hosts-file: 1 required TEXT missing"},
        {{"--full=maybe"}, false, TAction::Refuse, "Could not convert: --full = maybe"},
        // Help wins over unexpected arguments, not over a bad value.
        {{"--bogus", "-h"}, false, TAction::ShowHelp, ""},
        {{"--threads", "0", "--help"}, false, TAction::Refuse, "--threads: Value 0 not in range 1 to 64"},
        {{"--no-such-option"}, false, TAction::Refuse, "The following argument was not expected: --no-such-option"},
        {{"a", "b", "-x"}, false, TAction::Refuse, "The following arguments were not expected: b -x"},
        // Names that only look like options are folders.
        {{"-1"}, false, TAction::Run, "0||0|-1"},
        {{"---x"}, false, TAction::Run, "0||0|---x"},
        {{"--", "--full"}, false, TAction::Run, "0||0|--full"},
        {{"/full"}, false, TAction::Run, "0||0|/full"},
        // Windows: "/name" and "/name:value" too, and a "/..." that names no option is unexpected.
        {{"/full", "/threads:3", "/hosts-file", "C:\\h"}, true, TAction::Run, "1|C:\\h|3|"},
        {{"/?"}, true, TAction::Refuse, "The following argument was not expected: /?"},
        {{"/h"}, true, TAction::ShowHelp, ""},
        {{"-v", "C:\\Game"}, false, TAction::Run, "0||0|C:\\Game|verbose"},
        {{"--verbose"}, false, TAction::Run, "0||0||verbose"},
        {{"/v"}, true, TAction::Run, "0||0||verbose"},
        {{"-vx"}, false, TAction::Refuse, "The following argument was not expected: -vx"},
        // Like help, the version is shown whatever else the line holds.
        {{"--bogus", "--version"}, false, TAction::ShowVersion, ""},
        {{"--version=2"}, false, TAction::Refuse, "The following argument was not expected: --version=2"},
        // A rate in bytes per second, K and M in KiB and MiB; 0 is no cap, given all the same.
        {{"--max-rate", "512K", "C:\\Game"}, false, TAction::Run, "0||0|C:\\Game|524288"},
        {{"--max-rate=2m"}, false, TAction::Run, "0||0||2097152"},
        {{"/max-rate:0"}, true, TAction::Run, "0||0||0"},
        {{"--max-rate", "1.5M"}, false, TAction::Refuse, "--max-rate: 1.5M is not a rate (bytes per second, e.g. 512K or 2M)"},
        {{"--max-rate="}, false, TAction::Refuse, "--max-rate:  is not a rate (bytes per second, e.g. 512K or 2M)"},
        {{"--max-rate"}, false, TAction::Refuse, "--max-rate: 1 required TEXT missing"},
        {{"--max-rate", "1K", "--max-rate", "2K"}, false, TAction::Refuse, "--max-rate: At Most 1 required but received 2"},
    };
    for (const TCase& c : cases) {
        std::string args;
        for (const std::string& arg : c.Args) args += " " + arg;
        const TParsedArguments parsed = ParseUpdateArguments(c.Args, c.Slash);
        EXPECT_EQ(parsed.Action, c.Action) << args;
        EXPECT_EQ(Summary(parsed), c.Expected) << args;
    }
}

TEST(UpdateArguments, AbsolutePathNamesTheSameFileFromAnywhere) {
    const std::string absolute = AbsolutePath("hosts.txt");
    ASSERT_GT(absolute.size(), 10u);
    EXPECT_EQ(absolute.substr(absolute.size() - 9), "hosts.txt");
    const char separator = absolute[absolute.size() - 10];
    EXPECT_TRUE(separator == '/' || separator == '\\') << absolute;
    EXPECT_EQ(AbsolutePath(absolute), absolute);
    EXPECT_EQ(AbsolutePath(""), "");
}
