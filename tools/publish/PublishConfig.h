#pragma once
// The operator's publish configuration (an INI file) and how it turns a client folder into a
// description of what to publish.
#include "base/Text.h"
#include "tools/publish/ServerFolder.h"

#include <optional>
#include <string>

namespace orvex {

// A configuration value that cannot be used; the message names the file, the key and the value.
class EPublishConfigError : public EPublishError {
public:
    using EPublishError::EPublishError;
};

inline constexpr const char* DefaultConfigName = "publish.ini";
inline constexpr const char* SettingsFileToKeep = "_settings.ini";

struct TPublishConfig {
    std::string SelfName;     // empty: no self entry
    int32_t ModHosts = 0;
    std::vector<THostEntry> Hosts;
    TStringList Critical;     // patterns
    TStringList Exclude;      // patterns
    std::optional<unsigned> CodePage;  // of the list's names; none: the publisher's default
};

// Reads [publish] of fileName: Self, ModHosts, CodePage, and the lists Critical, Exclude and Hosts, each
// "; "-separated and continued in Critical1, Critical2, ... Raises EPublishConfigError.
TPublishConfig LoadPublishConfig(const std::string& fileName);

// Glob match of a listed path ("\" between folders), letters compared without regard to case:
// "*" any run of characters within one name, "?" one character, "**" any run across folders.
// A pattern without a folder delimiter is matched against the file name alone; "/" in a pattern
// stands for "\".
bool MatchGlob(const std::string& pattern, const std::string& path);

// What to publish of clientFiles (as ListClientFiles gives them): everything but the excluded
// files, the self file and neverPublished; critical when a Critical pattern matches. Raises
// EPublishError when the self file is not among clientFiles.
TPublishDescription DescribeClient(const TPublishConfig& config, const TStringList& clientFiles,
                                   const TStringList& neverPublished);

}  // namespace orvex
