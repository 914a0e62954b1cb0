#include "BrokenServer.h"
#include "Support.h"
#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "update/Download.h"
#include "update/HttpBody.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace orvex;
using namespace orvex::test;

namespace {

std::string Pattern(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return body;
}

// Downloads url into a file of the given name in a scratch folder of its own, recording every read.
struct Fetch {
    explicit Fetch(const std::string& name = "out") : Name(name), File(Folder.File(name)), Before(Beside()) {}
    bool From(const std::string& url) {
        Outcome = DownloadToFile(url, File, MaxBytes, TTransferLimits{}, [this](uint64_t, uint32_t count) { Reads.push_back(count); });
        return Outcome.Complete;
    }
    // A file left by an earlier run would pass for one the download made.
    void RemoveFile() const { ASSERT_TRUE(!os::FileExists(File) || os::DeleteFile(File)) << File; }
    // What a download writing beside the file left behind: names starting with the file's own that
    // were not there when the test began.
    std::vector<std::string> LeftBeside() const {
        std::vector<std::string> left;
        for (const auto& name : Beside())
            if (std::find(Before.begin(), Before.end(), name) == Before.end()) left.push_back(name);
        return left;
    }
    uint64_t Total() const { return std::accumulate(Reads.begin(), Reads.end(), uint64_t{0}); }
    std::vector<std::string> Beside() const {
        std::vector<os::TFolderEntry> entries;
        EXPECT_TRUE(os::ListFolder(Folder.Dir(), entries));
        std::vector<std::string> names;
        for (const auto& entry : entries)
            if (entry.Name != Name && entry.Name.compare(0, Name.size(), Name) == 0) names.push_back(entry.Name);
        return names;
    }

    ScratchFolder Folder;
    std::string Name;
    std::string File;
    std::vector<std::string> Before;
    std::vector<uint32_t> Reads;
    uint64_t MaxBytes = 1000000;
    TDownloadOutcome Outcome;
};

}  // namespace

TEST(Download, StoresTheBodyAndReportsEveryReadEndingWithZero) {
    const std::string body = Pattern(3000);
    WriteWholeFile(WwwDir() + "body3000.bin", body);
    Fetch fetch("body");
    fetch.RemoveFile();
    ASSERT_TRUE(fetch.From(ServerUrl() + "body3000.bin"));
    EXPECT_EQ(ReadWholeFile(fetch.File), body);
    EXPECT_TRUE(fetch.LeftBeside().empty());
    EXPECT_EQ(fetch.Total(), 3000u);
    ASSERT_FALSE(fetch.Reads.empty());
    EXPECT_EQ(fetch.Reads.back(), 0u);
    for (std::size_t i = 0; i + 1 < fetch.Reads.size(); ++i) EXPECT_GT(fetch.Reads[i], 0u) << "read " << i;
    if (ReadsInBlocksOf1024()) {
        EXPECT_EQ(fetch.Reads, (std::vector<uint32_t>{1024, 1024, 952, 0}));
    }
}

TEST(Download, EmptyBodyTruncatesToAnEmptyFile) {
    WriteWholeFile(WwwDir() + "empty.bin", "");
    Fetch fetch("empty");
    WriteWholeFile(fetch.File, "older content");
    ASSERT_TRUE(fetch.From(ServerUrl() + "empty.bin"));
    EXPECT_TRUE(os::FileExists(fetch.File));
    EXPECT_EQ(os::FileSize(fetch.File), 0);
    EXPECT_EQ(fetch.Reads, std::vector<uint32_t>{0});
}

// The status decides: an error page is never stored, and a busy server's answer is one to try again.
TEST(Download, AnswersOtherThan2xxAreNotStoredAndSayWhetherToTryAgain) {
    struct Case {
        const char* Response;  // nullptr: nginx's own 404
        int Status;
        bool Transient;
        std::optional<std::chrono::seconds> RetryAfter;
    };
    const std::vector<Case> cases = {
        {nullptr, 404, false, std::nullopt},
        {"HTTP/1.1 403 Forbidden\r\nContent-Length: 2\r\nConnection: close\r\n\r\nno", 403, false, std::nullopt},
        {"HTTP/1.1 500 Oops\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 500, true, std::nullopt},
        {"HTTP/1.1 503 Busy\r\nRetry-After: 7\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbusy", 503, true,
         std::chrono::seconds(7)},
    };
    for (const Case& c : cases) {
        std::optional<BrokenServer> server;
        if (c.Response) server.emplace(c.Response);
        Fetch fetch("refused_" + std::to_string(c.Status));
        WriteWholeFile(fetch.File, "older content");
        EXPECT_FALSE(fetch.From(server ? server->Url("x.bz2") : ServerUrl() + "no/such/file.bz2")) << c.Status;
        EXPECT_TRUE(fetch.Outcome.Refused) << c.Status;
        EXPECT_EQ(fetch.Outcome.Status, c.Status);
        EXPECT_EQ(fetch.Outcome.Reason, "HTTP status " + std::to_string(c.Status));
        EXPECT_EQ(fetch.Outcome.Transient, c.Transient) << c.Status;
        EXPECT_EQ(fetch.Outcome.RetryAfter, c.RetryAfter) << c.Status;
        EXPECT_FALSE(os::FileExists(fetch.File)) << c.Status;
        EXPECT_TRUE(fetch.LeftBeside().empty()) << c.Status;
    }
}

TEST(Download, FollowsRedirectsAndStoresOnlyTheFinalBody) {
    const std::string body = Pattern(5000);
    WriteWholeFile(WwwDir() + "moved.bin", body);
    Fetch fetch("redirect");
    ASSERT_TRUE(fetch.From(ServerUrl() + "redirect/moved.bin"));
    EXPECT_EQ(ReadWholeFile(fetch.File), body);
    EXPECT_EQ(fetch.Total(), 5000u);
}

// Updates come over HTTP alone: an address of another scheme, given or redirected to, is not
// fetched (nothing listens on port 1, so following the redirect would be a passing failure).
TEST(Download, TakesOnlyHttpAddressesGivenOrRedirectedTo) {
    Fetch source("local");
    WriteWholeFile(source.File, "a local file");
    const std::string local = source.Folder.OsFile("local");
    BrokenServer toFtp("HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1:1/files.lst.bz2\r\nContent-Length: 0\r\n"
                       "Connection: close\r\n\r\n");
    const struct {
        const char* name;
        std::string url;
    } cases[] = {
        {"a file address", "file://" + std::string(local.front() == '/' ? "" : "/") + local},
        {"an ftp address", "ftp://127.0.0.1:1/files.lst.bz2"},
        {"a redirect to ftp", toFtp.Url("files.lst.bz2")},
    };
    for (const auto& c : cases) {
        Fetch fetch("scheme");
        EXPECT_FALSE(fetch.From(c.url)) << c.name;
        EXPECT_FALSE(fetch.Outcome.Transient) << c.name << ": " << fetch.Outcome.Reason;
        EXPECT_FALSE(os::FileExists(fetch.File)) << c.name;
    }
}

TEST(Download, SendsTheUpdaterUserAgent) {
    Fetch fetch("agent");
    ASSERT_TRUE(fetch.From(ServerUrl() + "agent"));
    EXPECT_EQ(ReadWholeFile(fetch.File), "OrvexClientUpdater");
}

TEST(Download, FetchesAChangedFileAfreshEachTime) {
    Fetch fetch("fresh");
    WriteWholeFile(WwwDir() + "changing.txt", "first");
    ASSERT_TRUE(fetch.From(ServerUrl() + "changing.txt"));
    EXPECT_EQ(ReadWholeFile(fetch.File), "first");
    WriteWholeFile(WwwDir() + "changing.txt", "second, longer");
    ASSERT_TRUE(fetch.From(ServerUrl() + "changing.txt"));
    EXPECT_EQ(ReadWholeFile(fetch.File), "second, longer");
}

TEST(Download, AnAddressThatDoesNotOpenLeavesTheFileAlone) {
    Fetch fetch("refused");
    WriteWholeFile(fetch.File, "keep me");
    // Nothing listens on port 1 of the loopback address.
    EXPECT_FALSE(fetch.From("http://127.0.0.1:1/files.lst.bz2"));
    EXPECT_TRUE(fetch.Outcome.Transient) << fetch.Outcome.Reason;
    EXPECT_FALSE(fetch.From("no scheme at all"));
    EXPECT_FALSE(fetch.Outcome.Transient) << fetch.Outcome.Reason;
    EXPECT_EQ(ReadWholeFile(fetch.File), "keep me");
    EXPECT_TRUE(fetch.Reads.empty());

    Fetch absent("never");
    absent.RemoveFile();
    EXPECT_FALSE(absent.From("http://127.0.0.1:1/files.lst.bz2"));
    EXPECT_FALSE(os::FileExists(absent.File));
}

TEST(Download, ABodyCutShortIsAFailureAndLeavesNoFile) {
    BrokenServer server("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n" + Pattern(1000));
    Fetch fetch("broken");
    WriteWholeFile(fetch.File, "older content");
    EXPECT_FALSE(fetch.From(server.Url("files.lst.bz2")));
    EXPECT_TRUE(server.Served());
    EXPECT_TRUE(fetch.Outcome.Transient) << fetch.Outcome.Reason;
    EXPECT_FALSE(fetch.Outcome.Refused);
    EXPECT_FALSE(os::FileExists(fetch.File));
    EXPECT_TRUE(fetch.LeftBeside().empty());
}

TEST(Download, AChunkedBodyCutShortIsAFailureWhereTheClientCanTell) {
    BrokenServer server("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n3e8\r\n" +
                        Pattern(1000) + "\r\n");
    Fetch fetch("broken_chunked");
    fetch.RemoveFile();
    const bool result = fetch.From(server.Url("files.lst.bz2"));
    EXPECT_TRUE(server.Served());
    if (SeesCutChunkedBodies()) {
        EXPECT_FALSE(result);
        EXPECT_FALSE(os::FileExists(fetch.File));
    } else {
        // What arrived is stored; the caller's decoding and digest checks reject it.
        EXPECT_TRUE(result);
        EXPECT_EQ(ReadWholeFile(fetch.File), Pattern(1000));
    }
}

TEST(Download, ABodyEndedByClosingTheConnectionIsComplete) {
    BrokenServer server("HTTP/1.0 200 OK\r\n\r\n" + Pattern(1500));
    Fetch fetch("closed");
    ASSERT_TRUE(fetch.From(server.Url("files.lst.bz2")));
    EXPECT_EQ(ReadWholeFile(fetch.File), Pattern(1500));
}

TEST(Download, AFileThatCannotBeCreatedRaisesAfterTheUrlOpened) {
    WriteWholeFile(WwwDir() + "small.bin", "abc");
    const ScratchFolder folder;
    const std::string file = folder.File("missing\\out");
    try {
        DownloadToFile(ServerUrl() + "small.bin", file, 3, TTransferLimits{}, [](uint64_t, uint32_t) {});
        ADD_FAILURE() << "a file that cannot be created was reported as downloaded";
    } catch (const EFCreateError& e) {
        // The file asked for, not a name the download may have used on the way.
        const std::string prefix = "Cannot create file \"" + file + "\". ";
        EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
    }
    EXPECT_FALSE(os::FileExists(file));
}

TEST(Download, AnErrorOfTheProgressReportPassesThroughAndRemovesThePartialFile) {
    WriteWholeFile(WwwDir() + "big.bin", Pattern(200000));
    Fetch fetch("progress_error");
    int reads = 0;
    EXPECT_THROW(DownloadToFile(ServerUrl() + "big.bin", fetch.File, 200000, TTransferLimits{},
                                [&](uint64_t, uint32_t) {
                                    if (++reads == 3) throw EInvalidOperation("Value must be between 0 and 2147483647");
                                }),
                 EInvalidOperation);
    EXPECT_EQ(reads, 3);
    EXPECT_FALSE(os::FileExists(fetch.File));
    EXPECT_TRUE(fetch.LeftBeside().empty());
}

TEST(Download, ABodyLongerThanTheLimitStopsThereAndLeavesNoFile) {
    BrokenServer server;
    server.Serve("endless", Behaviour::EndlessBody);
    server.Serve("announced", Behaviour::Body, Pattern(3001));
    server.Serve("exact", Behaviour::Body, Pattern(3000));
    for (const std::string path : {"endless", "announced"}) {
        Fetch fetch("capped");
        fetch.MaxBytes = 3000;
        fetch.RemoveFile();
        EXPECT_FALSE(fetch.From(server.Url(path))) << path;
        EXPECT_TRUE(fetch.Outcome.TooLong) << path;
        EXPECT_LE(fetch.Total(), 3000u) << path;
        EXPECT_FALSE(os::FileExists(fetch.File)) << path;
        EXPECT_TRUE(fetch.LeftBeside().empty()) << path;
    }
    Fetch exact("exact");
    exact.MaxBytes = 3000;
    ASSERT_TRUE(exact.From(server.Url("exact")));
    EXPECT_FALSE(exact.Outcome.TooLong);
    EXPECT_EQ(ReadWholeFile(exact.File), Pattern(3000));
}

TEST(Download, LeavesNoCopyInTheInternetCache) {
    const std::string url = ServerUrl() + "uncached.bin";
    if (!InInternetCache(url).has_value()) GTEST_SKIP() << "no Internet cache here";
    WriteWholeFile(WwwDir() + "uncached.bin", Pattern(20000));
    Fetch fetch("uncached");
    ASSERT_TRUE(fetch.From(url));
    EXPECT_EQ(ReadWholeFile(fetch.File), Pattern(20000));
    EXPECT_FALSE(*InInternetCache(url));
}

namespace {

struct BodyRecorder final : http::IBodyReceiver {
    void BodyOpened(int status, bool continues) override {
        Status = status;
        Continues = continues;
    }
    void BodyRead(const void* data, std::size_t count) override { Body.append(static_cast<const char*>(data), count); }
    int Status = 0;
    bool Continues = false;
    std::string Body;
};

}  // namespace

// The rest of a file is asked for with the validator of the first answer: the same file continues
// from the byte asked for; a changed file, a server without ranges or a range past the end start over.
TEST(FetchBody, ARangeContinuesOnlyTheSameFileFromTheByteAskedFor) {
    const std::string body = Pattern(5000);
    WriteWholeFile(WwwDir() + "range.bin", body);
    BodyRecorder whole;
    const http::TFetchResult first = http::FetchBody(ServerUrl() + "range.bin", TTransferLimits{}, whole);
    ASSERT_TRUE(first.Complete);
    ASSERT_FALSE(first.Validator.empty());

    BrokenServer noRanges;
    noRanges.Serve("range.bin", Behaviour::Body, body);
    struct Case {
        const char* Name;
        std::string Url;
        http::TRange Range;
        int Status;
        bool Continues;
        std::string Body;
    };
    const std::vector<Case> cases = {
        {"same file", ServerUrl() + "range.bin", {1234, first.Validator}, 206, true, body.substr(1234)},
        {"changed file", ServerUrl() + "range.bin", {1234, "\"another-version\""}, 200, false, body},
        {"server without ranges", noRanges.Url("range.bin"), {1234, first.Validator}, 200, false, body},
        {"past the end", ServerUrl() + "range.bin", {5000, first.Validator}, 416, false, ""},
    };
    for (const Case& c : cases) {
        BodyRecorder rest;
        const http::TFetchResult result = http::FetchBody(c.Url, TTransferLimits{}, rest, c.Range);
        EXPECT_EQ(rest.Status, c.Status) << c.Name;
        EXPECT_EQ(rest.Continues, c.Continues) << c.Name;
        if (c.Status != 416) {
            EXPECT_EQ(rest.Body, c.Body) << c.Name;
        }
        EXPECT_TRUE(result.Complete) << c.Name;
    }
}

// A resumable copy whose transfer broke keeps what arrived, asks for the rest only and is never
// put in place before it is whole. It starts over when the server cannot continue the same file.
TEST(Download, AResumableCopyContinuesWhereItBrokeAndStartsOverWhenItMust) {
    const std::string body = Pattern(200000);
    struct Case {
        const char* Name;
        std::vector<Fault> Faults;
        int Calls;  // until the copy is whole
        int Cuts;   // each may cost the bytes in flight
    };
    const std::vector<Case> cases = {
        {"cut", {{Fault::Cut, 70000}}, 2, 1},
        {"reset", {{Fault::Reset, 30000}}, 2, 1},
        {"stall", {{Fault::Stall, 20000}}, 2, 1},
        {"cut twice", {{Fault::Cut, 10000}, {Fault::Cut, 10000}}, 3, 2},
        {"busy after a cut", {{Fault::Cut, 10000}, {Fault::Busy}}, 3, 1},
        {"ranges ignored", {{Fault::Cut, 10000}, {Fault::IgnoreRange}}, 2, 1},
        {"another version first", {{Fault::OldVersion, 10000}}, 2, 0},
        {"no validator", {{Fault::NoValidator, 10000}}, 2, 0},
        {"another range", {{Fault::Cut, 10000}, {Fault::OtherRange}}, 3, 1},
    };
    TTransferLimits limits;
    limits.Stall = std::chrono::milliseconds(300);
    for (const Case& c : cases) {
        BrokenServer server;
        server.ServeFile("copy.bz2", body, c.Faults);
        Fetch fetch("resumed");
        int calls = 1;
        for (; !DownloadToFile(server.Url("copy.bz2"), fetch.File, body.size(), limits, [](uint64_t, uint32_t) {}, true) &&
               calls < 5;
             ++calls)
            EXPECT_FALSE(os::FileExists(fetch.File)) << c.Name;
        EXPECT_EQ(calls, c.Calls) << c.Name;
        EXPECT_EQ(ReadWholeFile(fetch.File), body) << c.Name;
        EXPECT_TRUE(fetch.LeftBeside().empty()) << c.Name;
        server.Stop();
        const uint64_t useful = server.FileBytesSent() - server.FileBytesSentInVain();
        EXPECT_GE(useful, body.size()) << c.Name;
        EXPECT_LE(useful, body.size() + c.Cuts * 64 * 1024) << c.Name;
    }

    // A partial copy longer than the file it came from: the server refuses the range and the
    // download starts over at once.
    WriteWholeFile(WwwDir() + "shrunk.bin", body.substr(0, 5000));
    BodyRecorder first;
    const std::string validator = http::FetchBody(ServerUrl() + "shrunk.bin", TTransferLimits{}, first).Validator;
    ASSERT_FALSE(validator.empty());
    Fetch fetch("shrunk");
    WriteWholeFile(fetch.File + PartialSuffix, body.substr(0, 6000));
    WriteWholeFile(fetch.File + PartialTagSuffix, validator);
    EXPECT_TRUE(DownloadToFile(ServerUrl() + "shrunk.bin", fetch.File, 10000, limits, [](uint64_t, uint32_t) {}, true));
    EXPECT_EQ(ReadWholeFile(fetch.File), body.substr(0, 5000));
    EXPECT_TRUE(fetch.LeftBeside().empty());
}

// A validator that could end the If-Range line (a bare CR, any control or non-ASCII byte) is never
// kept: the partial copy goes with it, and one kept by an earlier version is not continued.
TEST(Download, APartialCopyIsKeptOnlyWithAValidatorOfPrintableAscii) {
    const struct {
        const char* name;
        std::string header;
        bool kept;
    } cases[] = {
        {"a strong ETag", "ETag: \"v1\"\r\n", true},
        {"a date", "Last-Modified: Mon, 07 Dec 2026 10:00:00 GMT\r\n", true},
        {"a bare CR in the ETag", "ETag: \"v1\rX-Injected: 1\"\r\n", false},
        {"a control byte in the date", "Last-Modified: Mon, 07 Dec 2026\x01 10:00:00 GMT\r\n", false},
        {"a byte above ASCII", "ETag: \"v\xE9\"\r\n", false},
    };
    for (const auto& c : cases) {
        BrokenServer server("HTTP/1.1 200 OK\r\n" + c.header + "Content-Length: 5000\r\nConnection: close\r\n\r\n" +
                            Pattern(1000));
        Fetch fetch("validated");
        EXPECT_FALSE(DownloadToFile(server.Url("copy.bz2"), fetch.File, 5000, TTransferLimits{}, [](uint64_t, uint32_t) {},
                                    true))
            << c.name;
        EXPECT_EQ(os::FileExists(fetch.File + PartialTagSuffix), c.kept) << c.name;
        EXPECT_EQ(os::FileExists(fetch.File + PartialSuffix), c.kept) << c.name;
    }
    // A tag an earlier version kept: the copy starts over instead of sending it back.
    BrokenServer server;
    const std::string body = Pattern(20000);
    server.ServeFile("copy.bz2", body);
    Fetch fetch("earlier");
    WriteWholeFile(fetch.File + PartialSuffix, body.substr(0, 1000));
    // Sent back, it would make a second header line, and the part after it would be taken.
    WriteWholeFile(fetch.File + PartialTagSuffix, "\"v20000\"\r\nX-Injected: 1");
    EXPECT_TRUE(DownloadToFile(server.Url("copy.bz2"), fetch.File, body.size(), TTransferLimits{}, [](uint64_t, uint32_t) {}, true));
    EXPECT_EQ(ReadWholeFile(fetch.File), body);
    server.Stop();
    EXPECT_EQ(server.FileBytesSent(), body.size()) << "the whole file, not the rest";
}

TEST(ContentRange, StartOfABytesRangeOnly) {
    EXPECT_EQ(http::ContentRangeStart("bytes 100-999/1000"), 100u);
    EXPECT_EQ(http::ContentRangeStart("bytes 0-0/*"), 0u);
    EXPECT_EQ(http::ContentRangeStart("bytes */1000"), std::nullopt);
    EXPECT_EQ(http::ContentRangeStart("items 1-2/3"), std::nullopt);
    EXPECT_EQ(http::ChooseValidator("W/\"weak\"", "Mon, 07 Dec 2026 10:00:00 GMT"), "Mon, 07 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(http::ChooseValidator("\"strong\"", "Mon, 07 Dec 2026 10:00:00 GMT"), "\"strong\"");
}
