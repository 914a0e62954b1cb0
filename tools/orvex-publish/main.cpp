// orvex-publish: builds and checks the folder an update server publishes.
#include "Progress.h"
#include "tools/common/Terminal.h"
#include "tools/common/Version.h"

#include "base/CodePage.h"
#include "base/Exceptions.h"
#include "base/FsPath.h"
#include "base/Os.h"
#include "base/Path.h"
#include "formats/UpdateList.h"
#include "tools/publish/KeyFiles.h"
#include "tools/publish/PublishConfig.h"
#include "tools/publish/Releases.h"
#include "tools/publish/ServerFolder.h"
#include "tools/publish/ServerVerify.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace orvex;
namespace fs = std::filesystem;

namespace {

enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,        // publishing failed, or verify found problems
    ExitUsage = 2,         // command line, or no word on signing over a signed folder
    ExitMissingFolder = 3,
    ExitBadConfig = 4,     // or a key file that cannot be used or is there already
    ExitRefused = 5,       // the client holds something clients would reject
};

struct TBuildArgs {
    std::string Client, Server, Config;
    std::optional<int32_t> Rev;
    std::optional<unsigned> CodePage;
    bool Prune = false, Full = false, Quiet = false, Chunks = false, RemoveUnlisted = false, Unsigned = false;
    unsigned Jobs = 0;
    std::string SignKey, Channel;
    std::optional<uint64_t> Seq, ExpiresIn;
    std::vector<std::string> NextKeys;
    std::string Release;
    std::size_t Keep = DefaultKeptReleases;
    bool Preload = false;
    std::optional<int> Rollout;
};

// promote, rollout, withdraw and rollback: one release of a server folder.
struct TReleaseArgs {
    std::string Server, Name, SignKey;
    std::optional<uint64_t> Seq;
    unsigned Jobs = 0;
    int Share = 0;
};

struct TVerifyArgs {
    std::string Server, Key;
    unsigned Jobs = 0;
    bool Deep = false;
};

class EExit : public std::exception {
public:
    EExit(int code, std::string message) : Code(code), Message(std::move(message)) {}
    int Code;
    std::string Message;
};

fs::path Canonical(const std::string& path) {
    std::error_code ignored;
    return fs::weakly_canonical(fs::absolute(FsPath(path)), ignored);
}

// The path of inner relative to outer with "\" between folders, or "" when inner is not inside.
std::string ListedInside(const fs::path& outer, const fs::path& inner) {
    const fs::path relative = inner.lexically_relative(outer);
    if (relative.empty() || *relative.begin() == "..") return "";
    std::string listed = FromFsPath(relative);
    for (char& c : listed)
        if (c == '/') c = '\\';
    return listed;
}

void RequireFolder(const std::string& what, const std::string& path) {
    if (!os::DirectoryExists(path))
        throw EExit(ExitMissingFolder, "The " + what + " folder \"" + path + "\" does not exist");
}

// The configuration CLIENT/publish.ini, the one --config names, or none.
TPublishConfig LoadConfig(const TBuildArgs& args, std::string& configFile) {
    const bool configNamed = !args.Config.empty();
    configFile = configNamed ? args.Config : JoinPath(args.Client, DefaultConfigName);
    if (os::FileExists(configFile)) return LoadPublishConfig(configFile);
    if (configNamed) throw EExit(ExitBadConfig, "The configuration \"" + configFile + "\" does not exist");
    std::fprintf(stderr, "No %s in the client folder: every file is normal, no self entry, ModHosts 0\n",
                 DefaultConfigName);
    return {};
}

TPublishDescription DescribeBuild(const TBuildArgs& args, const fs::path& client) {
    std::string configFile;
    const TPublishConfig config = LoadConfig(args, configFile);
    TStringList neverPublished = {SettingsFileToKeep};
    const std::string configInClient = ListedInside(client, Canonical(configFile));
    if (!configInClient.empty()) neverPublished.push_back(configInClient);
    const auto excluded = [&config](const std::string& path) {
        return std::any_of(config.Exclude.begin(), config.Exclude.end(),
                           [&path](const std::string& pattern) { return MatchGlob(pattern, path); });
    };
    TPublishDescription description = DescribeClient(config, ListClientFiles(args.Client, excluded), neverPublished);
    for (const std::string& keyFile : args.NextKeys) {
        const std::vector<minisign::TPublicKey> keys = LoadPublicKeys(keyFile);
        description.NextKeys.insert(description.NextKeys.end(), keys.begin(), keys.end());
    }
    description.RemoveUnlisted = args.RemoveUnlisted;
    if (args.CodePage) {
        if (const auto unusable = UnusableCodePage(*args.CodePage)) throw EExit(ExitUsage, "--codepage: " + *unusable);
        description.CodePage = *args.CodePage;
    } else if (config.CodePage) {
        description.CodePage = *config.CodePage;
    }
    return description;
}

TPublishOptions BuildOptions(const TBuildArgs& args) {
    TPublishOptions options;
    options.Threads = args.Jobs;
    options.Incremental = !args.Full;
    options.Rev = args.Rev;
    options.Prune = args.Prune;
    options.Chunks = args.Chunks;
    options.RemoveStaleSignature = args.Unsigned;
    if (!args.Release.empty() && !args.Chunks) throw EExit(ExitUsage, "--release goes with --chunks");
    if (!args.Release.empty() && !IsReleaseName(args.Release))
        throw EExit(ExitUsage, "--release takes 1 to 64 of A-Z a-z 0-9 . _ - (not first a dot), not \"" + args.Release + "\"");
    if (args.Keep < 1) throw EExit(ExitUsage, "--keep takes 1 or more");
    if ((args.Preload || args.Rollout) && args.Release.empty()) throw EExit(ExitUsage, "--preload and --rollout go with --release");
    if (args.Preload && args.Rollout) throw EExit(ExitUsage, "--preload and --rollout exclude each other");
    if (args.Rollout && (*args.Rollout < 1 || *args.Rollout > 99)) throw EExit(ExitUsage, "--rollout takes 1 to 99");
    if (args.Preload) options.Announce = TReleaseAnnouncement::TKind::Preload;
    if (args.Rollout) {
        options.Announce = TReleaseAnnouncement::TKind::Rollout;
        options.RolloutShare = *args.Rollout;
    }
    options.Release = args.Release;
    options.KeepReleases = args.Keep;
    if (!args.SignKey.empty() && args.Unsigned) throw EExit(ExitUsage, "--sign and --unsigned exclude each other");
    if (!args.SignKey.empty()) {
        TListSigning signing{LoadSecretKey(args.SignKey), args.Seq, std::nullopt,
                             args.Channel.empty() ? std::nullopt : std::optional(args.Channel), args.SignKey + ".seq"};
        if (args.ExpiresIn) signing.Expires = static_cast<uint64_t>(std::time(nullptr)) + *args.ExpiresIn;
        if (!args.Channel.empty() && !minisign::IsChannelName(args.Channel))
            throw EExit(ExitUsage, "--channel takes 1 to 64 of A-Z a-z 0-9 . _ -, not \"" + args.Channel + "\"");
        options.Signing = signing;
    } else if (args.Seq || args.ExpiresIn || !args.NextKeys.empty() || !args.Channel.empty()) {
        throw EExit(ExitUsage, "--seq, --expires, --next-key and --channel go with --sign");
    }
    return options;
}

// What the publish costs the players at each release they may be at, and the server folder.
void PrintCosts(const TPublishSummary& summary) {
    for (const TReleaseCost& cost : summary.Costs) {
        std::printf("  players at %s (Rev %d): %zu changed, %zu added, %zu removed; download %s as copies",
                    cost.From == "current" ? "the current release" : ("release " + cost.From).c_str(), cost.Rev,
                    cost.Changed, cost.Added, cost.Removed, Bytes(static_cast<int64_t>(cost.CopyBytes)).c_str());
        if (cost.Chunked) std::printf(", %s through chunks", Bytes(static_cast<int64_t>(cost.ChunkBytes)).c_str());
        std::printf("; write %s\n", Bytes(static_cast<int64_t>(cost.WrittenBytes)).c_str());
    }
    const int64_t growth = summary.BytesOut - summary.BytesReplaced + static_cast<int64_t>(summary.ChunkBytesWritten);
    std::printf("  the server folder grows by %s (copies %s written over %s, new chunks %s)\n",
                growth < 0 ? ("-" + Bytes(-growth)).c_str() : Bytes(growth).c_str(), Bytes(summary.BytesOut).c_str(),
                Bytes(summary.BytesReplaced).c_str(), Bytes(static_cast<int64_t>(summary.ChunkBytesWritten)).c_str());
}

void PrintSummary(const TBuildArgs& args, const TPublishOptions& options, const TPublishSummary& summary,
                  double seconds) {
    const std::size_t files = summary.Compressed + summary.Reused;
    std::printf("Published %zu files to %s: Rev %d%s\n", files, args.Server.c_str(), summary.Rev,
                summary.ListChanged ? "" : " (unchanged)");
    std::printf("  compressed %zu, reused %zu, pruned %zu\n", summary.Compressed, summary.Reused, summary.Pruned);
    if (options.Chunks)
        std::printf("  chunks written %zu, pruned %zu\n", summary.ChunksWritten, summary.ChunksPruned);
    std::printf("  %s in, %s out, %.2f s\n", Bytes(summary.BytesIn).c_str(), Bytes(summary.BytesOut).c_str(), seconds);
    if (options.Signing)
        std::printf("  %s seq %llu\n", summary.Signed ? "signed" : "signature kept,", static_cast<unsigned long long>(summary.Seq));
    if (summary.SignatureRemoved) std::printf("  %s removed: the list is unsigned\n", ListSignatureName);
    for (const std::string& copy : summary.CopiesReplaced)
        std::printf("  compressed again: the copy %s\n", copy.c_str());
    if (summary.ChunksReplaced)
        std::printf("  chunks written again: %zu were damaged in the store\n", summary.ChunksReplaced);
    if (!options.Release.empty()) std::printf("  kept as release %s\n", options.Release.c_str());
    if (options.Announce == TReleaseAnnouncement::TKind::Preload)
        std::printf("  announced for preload; the current list keeps its Rev (orvex-publish promote makes it current)\n");
    if (options.Announce == TReleaseAnnouncement::TKind::Rollout)
        std::printf("  rolled out to %d%% of the installations; the others keep the current release\n", options.RolloutShare);
    for (const std::string& pruned : summary.ReleasesPruned) std::printf("  release %s pruned\n", pruned.c_str());
    if (summary.LeftoversRemoved)
        std::printf("  removed %zu temporaries an interrupted publish left\n", summary.LeftoversRemoved);
    PrintCosts(summary);
}

// Signed launchers refuse a list whose signature does not sign it: going unsigned must be meant.
void RequireSigningKept(const TBuildArgs& args) {
    if (!args.SignKey.empty() || args.Unsigned) return;
    if (os::FileExists(JoinPath(args.Server, ListSignatureName)))
        throw EExit(ExitUsage, "The server folder holds a signed list (" + std::string(ListSignatureName) +
                                   "): sign with --sign KEYFILE, or give --unsigned to publish without a signature "
                                   "(launchers holding UpdateKey then refuse the list)");
}

int Build(const TBuildArgs& args) {
    RequireFolder("client", args.Client);
    const fs::path client = Canonical(args.Client), server = Canonical(args.Server);
    const std::string serverInClient = ListedInside(client, server);
    if (client == server || !serverInClient.empty() || !ListedInside(server, client).empty())
        throw EExit(ExitUsage, "The server folder and the client folder must not lie inside one another");
    RequireSigningKept(args);
    const TPublishDescription description = DescribeBuild(args, client);
    TProgressReport report(stderr, IsTerminal(stderr), args.Quiet);
    TPublishOptions options = BuildOptions(args);
    if (options.Signing && TrustedKeyCount(options.Signing->Key.PublicKey(), description.NextKeys) > MaxTrustedKeys)
        throw EExit(ExitUsage, "--next-key: with the signing key, launchers would trust more than " +
                                   std::to_string(MaxTrustedKeys) + " keys");
    const bool hadList = os::FileExists(JoinPath(args.Server, PackedListName));
    if (!os::ForceDirectories(args.Server))
        throw EExit(ExitMissingFolder, "The server folder \"" + args.Server + "\" cannot be created");
    options.OnFile = [&report, &description](const TPublishedFile& file, TFileOutcome outcome,
                                             const TPublishProgress& progress) {
        TPublishedFile shown = file;  // named as this system names it, not in the list's code page
        shown.Path = LocalListName(file.Path, description.CodePage);
        report.File(shown, outcome, progress);
    };
    const TPublishSummary summary = PublishServerFolder(args.Client, args.Server, description, options);
    report.Done();
    PrintSummary(args, options, summary, report.Seconds());
    if (summary.Signed && !hadList)
        std::fprintf(stderr,
                     "Warning: %s held no list before: seq %llu counts on from %s.seq alone; players who "
                     "accepted a higher one refuse this list until a publish passes it (--seq)\n",
                     args.Server.c_str(), static_cast<unsigned long long>(summary.Seq), args.SignKey.c_str());
    return ExitOk;
}

// A build that writes nothing: what it would cost.
int Plan(TBuildArgs args) {
    RequireFolder("client", args.Client);
    RequireFolder("server", args.Server);
    args.Chunks = true;
    const TPublishDescription description = DescribeBuild(args, Canonical(args.Client));
    TPublishOptions options = BuildOptions(args);
    options.DryRun = true;
    const TPublishSummary summary = PublishServerFolder(args.Client, args.Server, description, options);
    std::printf("Publishing %s to %s would make Rev %d (nothing is written)\n", args.Client.c_str(), args.Server.c_str(),
                summary.Rev);
    PrintCosts(summary);
    return ExitOk;
}

int Verify(const TVerifyArgs& args) {
    RequireFolder("server", args.Server);
    TVerifyOptions options{args.Jobs, {}, args.Deep, {}};
    if (!args.Key.empty()) options.Keys = LoadPublicKeys(args.Key);
    TStatusLine status(stderr);
    if (IsTerminal(stderr))
        options.OnProgress = [&status](const TVerifyProgress& progress) {
            status.Show(VerifyStatus(progress), progress.Done == progress.Total);
        };
    const TServerCheck check = CheckServerFolder(args.Server, options);
    status.Erase();
    for (const std::string& problem : check.Problems) std::printf("%s\n", problem.c_str());
    if (check.Problems.empty()) std::printf("%s: no problems found\n", args.Server.c_str());
    else std::printf("%zu problem(s) found in %s\n", check.Problems.size(), args.Server.c_str());
    std::printf("%s", CheckedSummary(check).c_str());
    return check.Problems.empty() ? ExitOk : ExitFailed;
}

// The signing a release command asks for; a signed folder must stay signed.
std::optional<TListSigning> ReleaseSigning(const TReleaseArgs& args) {
    if (args.SignKey.empty()) {
        if (os::FileExists((fs::path(args.Server) / ListSignatureName).string()))
            throw EExit(ExitUsage, "The server folder holds a signed list: sign with --sign KEYFILE");
        if (args.Seq) throw EExit(ExitUsage, "--seq goes with --sign");
        return std::nullopt;
    }
    return TListSigning{LoadSecretKey(args.SignKey), args.Seq, std::nullopt, std::nullopt, args.SignKey + ".seq"};
}

int ChangeRelease(const char* what, const TReleaseArgs& args, const std::function<TReleaseChange()>& change) {
    RequireFolder("server", args.Server);
    const TReleaseChange done = change();
    std::printf("%s in %s: Rev %d", what, args.Server.c_str(), done.Rev);
    if (done.Seq) std::printf(", signed seq %llu", static_cast<unsigned long long>(done.Seq));
    std::printf("\n");
    if (done.Rebuilt || done.Reused)
        std::printf("  copies made again from chunks %zu (%s), reused %zu\n", done.Rebuilt, Bytes(done.BytesOut).c_str(),
                    done.Reused);
    return ExitOk;
}

int KeyGen(const std::string& keyFile) {
    const minisign::TPublicKey key = CreateKeyFiles(keyFile);
    std::printf("Secret key: %s (keep it off the web server)\nPublic key: %s.pub\n", keyFile.c_str(), keyFile.c_str());
    std::printf("For the players' _settings.ini:\nUpdateKey=%s\n", minisign::PublicKeyLine(key).c_str());
    return ExitOk;
}

const char* const Footer = R"(Exit codes: 0 success; 1 publishing failed or verify found problems; 2 bad command line
(or build without --sign or --unsigned over a signed folder); 3 missing folder; 4 bad configuration
or key file; 5 the client holds a file clients cannot take (each named).)";

const char* const BuildHelp = R"(Writes SERVER/files.lst, SERVER/files.lst.bz2 and SERVER/<path>.bz2 for every file of CLIENT.

The configuration (CLIENT/publish.ini unless --config names another) is an INI file:

  [publish]
  ; the launcher's own file (self entry); omit for none
  Self=OrvexUpdater.exe
  ; patterns of files checked on every run
  Critical=*.exe; system\*.dll
  ; patterns of files never published
  Exclude=*.log; screenshots\**
  ; 1: clients apply the Hosts entries
  ModHosts=1
  Hosts=127.0.0.1 login.example.net; 10.0.0.2 patch.example.net

Comments go on lines of their own: a ";" after a value separates entries, and an entry of
several words without a wildcard, a dot or a folder is refused as a comment (write ? for a space).

Patterns: * any characters within a name, ? one character, ** across folders; a pattern without
"\" or "/" matches the file name in any folder; letter case is ignored. Long lists continue in
Critical1, Critical2, ... (likewise Exclude, Hosts). publish.ini and _settings.ini are never published.

Names are held to the launcher's rule: none of the installation's own files (_settings.ini,
files.lst, files.lst.bz2, Update.bat, the Self file) as a file at the top level, no short
NAME~N.EXT form at the top level, no Windows device names (CON, NUL, COM1, ...), no name ending in
a dot or a space, no * ? " < > | or control characters, no path over 139 characters (an
installation folder of up to 80 characters is assumed), no two paths differing only in letter case.
Self is a single name of printable ASCII without % ! ^ & ( ).

The list names files in the Windows ANSI code page of the players: --codepage N or CodePage=N in
the configuration (default 1252, Western European; 1251 Cyrillic, 1250 Central European, ...). Names
that code page cannot hold are refused (exit 5). Copies keep the files' own names, in UTF-8;
launchers ask for them in UTF-8, percent-encoded.

Rev is the published Rev plus 1 when any entry changed, unchanged otherwise. Files whose digest and
copy size match the published list are not compressed again; a copy that is missing or not of the
listed size is compressed again and named (--full compresses everything, for a copy damaged
within its size). Every new file is written under a
temporary name and all are renamed into place at the end, the list last, so clients updating
meanwhile never see a list naming a missing or newer copy, and a publish that is stopped leaves the
old release whole (the next publish removes its temporaries). Links, FIFOs, devices and anything
else that is not a plain file are refused (exit 5, each named), unless Exclude names them.

--sign KEYFILE writes SERVER/files.lst.bz2.minisig, put in place just before the list: minisign's
format, trusted comment "rev=REV seq=SEQ" (and "expires=UNIX-SECONDS" with --expires, "channel=NAME"
with --channel), SEQ one above the larger of the previous signature's (whichever key made it) and
the one KEYFILE.seq keeps; KEYFILE.seq then keeps SEQ, so a lost server folder does not start over
at 1. A publish that changes nothing keeps a signature that already signs the list with that key.
Publishing over a signed folder needs --sign, or --unsigned, which removes the signature when the
list changes (exit 2 without either).

--next-key PUBFILE (with --sign, repeatable) names a key in the list's [keys] section: launchers
that accept the list trust exactly the signing key and the keys named from then on (at most 8 in
all). Sign with the old key and name the new one for as long as players may still update from an
older list, then sign with the new key naming itself, which retires the old one.

--chunks also writes SERVER/chunks/ (each piece of each file once, zstd-compressed, named by its
SHA-256) and SERVER/files.idx.zst (every file's pieces), before the list, and adds the index's
SHA-256 to the list as Index. Launchers that know the index fetch only the pieces they lack; the
others keep using the .bz2 copies, which stay the same. With --prune, pieces the index no longer
names are deleted. The store and its index take about as much room again as the copies.

--release NAME (with --chunks) also keeps this publish under SERVER/releases/NAME/ (its list,
signature and index); with --prune only the --keep N newest releases stay, with their chunks.
`orvex-publish rollback SERVER --to NAME --sign KEYFILE` makes a kept release current again.)";

constexpr unsigned MaxThreads = 64;

// The bounds are told in the option's name column ("N (1-64)"), not as CLI11's "UINT:UINT in [...]".
void AddThreadsOption(CLI::App& command, unsigned& threads, const std::string& description) {
    const CLI::Validator inRange(
        [](std::string& value) {
            unsigned count = 0;
            return CLI::detail::lexical_cast(value, count) && count >= 1 && count <= MaxThreads
                       ? std::string()
                       : "takes a number from 1 to " + std::to_string(MaxThreads) + ", not " + value;
        },
        "");
    command.add_option("-j,--jobs,--threads", threads, description)
        ->type_name("N (1-" + std::to_string(MaxThreads) + ")")
        ->check(inRange);
}

CLI::App* AddBuildCommand(CLI::App& app, TBuildArgs& build) {
    CLI::App* buildCommand = app.add_subcommand("build", "Publish CLIENT into the server folder SERVER");
    buildCommand->footer(BuildHelp);
    buildCommand->add_option("CLIENT", build.Client, "Folder of the game client as players should have it")->required();
    buildCommand->add_option("SERVER", build.Server, "Folder the web server serves (created when missing)")->required();
    buildCommand->add_option("-c,--config", build.Config, "Publish configuration (default: CLIENT/publish.ini)");
    buildCommand->add_option("--rev", build.Rev, "Set Rev instead of counting it up");
    buildCommand->add_option("--codepage", build.CodePage,
                             "Windows code page of the players, which the list names files in (default: 1252)");
    buildCommand->add_flag("--prune", build.Prune, "Delete copies of files no longer in the client (with --chunks, also chunks the index no longer names), after the new list is in place");
    buildCommand->add_flag("--chunks", build.Chunks,
                           "Also write the chunk store (chunks/) and its index files.idx.zst for delta updates");
    buildCommand->add_flag("--full", build.Full, "Compress every file again, even unchanged ones");
    buildCommand->add_flag("--remove-unlisted", build.RemoveUnlisted,
                           "Launchers remove from installations the files an earlier list named and this one does not");
    AddThreadsOption(*buildCommand, build.Jobs, "Files compressed at once (default: one per core)");
    buildCommand->add_flag("-q,--quiet", build.Quiet, "No progress, only the summary");
    buildCommand->add_option("--sign", build.SignKey, "Sign the list with this secret key (from keygen or minisign -G -W)");
    buildCommand->add_flag("--unsigned", build.Unsigned,
                           "Publish without a signature over a signed folder, removing its signature when the list changes");
    buildCommand->add_option("--seq", build.Seq, "With --sign: this sequence number instead of counting up");
    buildCommand->add_option("--expires", build.ExpiresIn, "With --sign: the signature expires this many seconds from now");
    buildCommand->add_option("--next-key", build.NextKeys, "With --sign: a public key file (or UpdateKey line) players trust from this list on");
    buildCommand->add_option("--release", build.Release, "With --chunks: also keep this publish as the release NAME under releases/NAME/");
    buildCommand->add_option("--keep", build.Keep, "With --release and --prune: the newest releases kept (default 3); older ones and their chunks go");
    buildCommand->add_flag("--preload", build.Preload, "With --release: publish the release without making it current; launchers stage its files ahead (promote makes it current)");
    buildCommand->add_option("--rollout", build.Rollout, "With --release: publish the release for P percent (1-99) of the installations only");
    buildCommand->add_option("--channel", build.Channel, "With --sign: the channel named in the signature (launchers with Channel set take only theirs); without it, the published signature's");
    return buildCommand;
}

CLI::App* AddKeyGenCommand(CLI::App& app, std::string& keyFile) {
    CLI::App* keygenCommand = app.add_subcommand("keygen", "Make a signing key: KEYFILE (secret) and KEYFILE.pub");
    keygenCommand->footer("Prints the UpdateKey line for the players' _settings.ini. Never overwrites a key.");
    keygenCommand->add_option("KEYFILE", keyFile, "Where the secret key goes; the public key goes to KEYFILE.pub")->required();
    return keygenCommand;
}

CLI::App* AddPlanCommand(CLI::App& app, TBuildArgs& plan) {
    CLI::App* command = app.add_subcommand("plan", "What publishing CLIENT to SERVER would cost; writes nothing");
    command->footer("For the players at the current release and at each kept release: the files that change, are "
                    "added and removed, the bytes they download as whole copies and through chunks, and the bytes they "
                    "write; and how much the server folder grows. Every build ends with the same figures.");
    command->add_option("CLIENT", plan.Client, "Folder of the game client as players should have it")->required();
    command->add_option("SERVER", plan.Server, "The published folder")->required();
    command->add_option("-c,--config", plan.Config, "Publish configuration (default: CLIENT/publish.ini)");
    AddThreadsOption(*command, plan.Jobs, "Files measured at once (default: one per core)");
    return command;
}

// The commands on one kept release; the caller adds the release's name.
CLI::App* AddReleaseCommand(CLI::App& app, const char* name, const char* about, const char* footer,
                            TReleaseArgs& args) {
    CLI::App* command = app.add_subcommand(name, about);
    command->footer(footer);
    command->add_option("SERVER", args.Server, "The published folder")->required();
    command->add_option("--sign", args.SignKey, "Sign the lists with this secret key (needed in a signed folder)");
    command->add_option("--seq", args.Seq, "With --sign: this sequence number instead of counting up");
    return command;
}

struct TReleaseCommands {
    CLI::App *Promote, *Rollout, *Withdraw, *Rollback;
};

TReleaseCommands AddReleaseCommands(CLI::App& app, TReleaseArgs& args) {
    TReleaseCommands commands{};
    commands.Promote = AddReleaseCommand(app, "promote", "Make a preloaded or rolled-out release current",
        "Writes the .bz2 copies the release needs from the chunk store (launchers that know nothing of releases "
        "get it as before), then its index and its list, with the release's Rev (or one above the current one "
        "when that is higher). Launchers that preloaded it download only the list, its signature and the index.",
        args);
    commands.Promote->add_option("NAME", args.Name, "The release (build --release NAME)")->required();
    AddThreadsOption(*commands.Promote, args.Jobs, "Copies made at once (default: one per core)");
    commands.Rollout = AddReleaseCommand(app, "rollout", "Set the share of installations that take a release",
        "The current list keeps its Rev and announces the release to P percent of the installations, chosen by "
        "each installation's own number (RolloutNumber in _settings.ini), so raising P only adds installations.",
        args);
    commands.Rollout->add_option("NAME", args.Name, "The announced release")->required();
    commands.Rollout->add_option("--share", args.Share, "P, 1 to 99")->required()->check(CLI::Range(1, 99));
    commands.Withdraw = AddReleaseCommand(app, "withdraw", "Stop announcing a preload or rollout",
        "The current list announces the release no more, with a Rev above the release's, so the launchers that "
        "took it come back to the current release at their next run.", args);
    commands.Withdraw->add_option("NAME", args.Name, "The announced release")->required();
    commands.Rollback = AddReleaseCommand(app, "rollback", "Make a kept release current again, as a new Rev",
        "Rebuilds from the chunk store the copies the current list does not share with the release, then puts its "
        "index and its list in place with Rev one above the current one, signed with a new sequence number: "
        "every launcher takes it as an update. Needs no client folder.", args);
    commands.Rollback->add_option("--to", args.Name, "The release (build --release NAME) to make current")->required();
    AddThreadsOption(*commands.Rollback, args.Jobs, "Copies made at once (default: one per core)");
    return commands;
}

void AddVerifyCommand(CLI::App& app, TVerifyArgs& verify) {
    CLI::App* verifyCommand = app.add_subcommand("verify", "Check a server folder as clients will read it");
    verifyCommand->footer("Prints every problem, one a line, and then what it checked: files, copies, chunks, the list's "
                          "Rev and its signature's key, seq, channel and expiry. Exits 1 when there is any problem. "
                          "On a terminal a status line on stderr shows how far it has come.");
    verifyCommand->add_option("SERVER", verify.Server, "The published folder")->required();
    AddThreadsOption(*verifyCommand, verify.Jobs, "Copies checked at once (default: one per core)");
    verifyCommand->add_flag("--deep", verify.Deep,
                            "Also decompress every chunk of the chunk store and check each file's chunks hash to it");
    verifyCommand->add_option("--key", verify.Key, "Check the list's signature with this public key file (or UpdateKey line)");
}

CLI::App* AddHelpCommand(CLI::App& app, std::string& command) {
    CLI::App* helpCommand = app.add_subcommand("help", "Print this help, or a command's (help COMMAND), and exit");
    helpCommand->add_option("COMMAND", command, "build, verify or keygen");
    return helpCommand;
}

// What --help prints, for the tool or one of its commands. App::help would show the help command's
// own help, as it is the command given.
int PrintHelp(const CLI::App& app, const std::string& command) {
    const auto print = [](const CLI::App& shown, const std::string& usage) {
        std::printf("%s", shown.get_formatter()->make_help(&shown, usage, CLI::AppFormatMode::Normal).c_str());
        return ExitOk;
    };
    if (command.empty()) return print(app, app.get_name());
    for (const char* name : {"build", "verify", "keygen"})
        if (command == name) return print(*app.get_subcommand(command), app.get_name() + " " + command);
    std::fprintf(stderr, "orvex-publish: help knows build, verify and keygen, not \"%s\"\n", command.c_str());
    return ExitUsage;
}

// Refusals come several to a message, one a line.
void PrintEachLine(const std::string& message) {
    for (std::size_t start = 0; start <= message.size();) {
        const std::size_t end = std::min(message.find('\n', start), message.size());
        std::fprintf(stderr, "orvex-publish: %s\n", message.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// Runs the command; every failure ends in its exit code with the reason on stderr.
int RunCommand(const std::function<int()>& command) {
    try {
        return command();
    } catch (const EExit& e) {
        std::fprintf(stderr, "orvex-publish: %s\n", e.Message.c_str());
        return e.Code;
    } catch (const EKeyFileError& e) {
        std::fprintf(stderr, "orvex-publish: %s\n", e.what());
        return ExitBadConfig;
    } catch (const EPublishConfigError& e) {
        std::fprintf(stderr, "orvex-publish: bad configuration: %s\n", e.what());
        return ExitBadConfig;
    } catch (const EPublishError& e) {
        PrintEachLine(e.what());
        return ExitRefused;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvex-publish: %s\n", e.what());
        return ExitFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"orvex-publish: publishes a game client for OrvexUpdater launchers and checks published folders"};
    app.footer(Footer);
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("orvex-publish ") + OrvexVersion, "Print the version and exit");

    TBuildArgs build;
    CLI::App* buildCommand = AddBuildCommand(app, build);
    std::string keyFile;
    CLI::App* keygenCommand = AddKeyGenCommand(app, keyFile);
    TVerifyArgs verify;
    AddVerifyCommand(app, verify);
    TBuildArgs plan;
    CLI::App* planCommand = AddPlanCommand(app, plan);
    TReleaseArgs release;
    const TReleaseCommands releaseCommands = AddReleaseCommands(app, release);
    std::string helpTopic;
    CLI::App* helpCommand = AddHelpCommand(app, helpTopic);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? ExitOk : ExitUsage;
    }
    if (helpCommand->parsed()) return PrintHelp(app, helpTopic);

    return RunCommand([&] {
        if (keygenCommand->parsed()) return KeyGen(keyFile);
        if (planCommand->parsed()) return Plan(plan);
        if (releaseCommands.Promote->parsed())
            return ChangeRelease("Release promoted", release, [&] {
                return MakeReleaseCurrent(release.Server, release.Name, TCurrentRev::ReleaseOrNext, ReleaseSigning(release), release.Jobs);
            });
        if (releaseCommands.Rollback->parsed())
            return ChangeRelease("Release made current again", release, [&] {
                return MakeReleaseCurrent(release.Server, release.Name, TCurrentRev::Next, ReleaseSigning(release), release.Jobs);
            });
        if (releaseCommands.Rollout->parsed())
            return ChangeRelease("Rollout share set", release, [&] {
                return SetRolloutShare(release.Server, release.Name, release.Share, ReleaseSigning(release));
            });
        if (releaseCommands.Withdraw->parsed())
            return ChangeRelease("Release withdrawn", release,
                                 [&] { return WithdrawRelease(release.Server, release.Name, ReleaseSigning(release)); });
        return buildCommand->parsed() ? Build(build) : Verify(verify);
    });
}
