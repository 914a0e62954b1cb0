#pragma once
// A hostile HTTP server on 127.0.0.1: it answers each path the way a test sets, including the ways
// a real server never does (a body cut short, silence, a trickle, a body without end, a redirect to
// itself). It serves any number of requests, one connection each, and stops when it goes.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

// The socket calls, per OS.
namespace sockets {
using Socket = std::intptr_t;
inline constexpr Socket None = -1;
Socket ListenOnLoopback(uint16_t& port);  // any free port; None on failure
bool WaitReadable(Socket socket, int milliseconds);
bool WaitWritable(Socket socket, int milliseconds);
Socket Accept(Socket listener);
int Receive(Socket socket, char* buffer, int size);  // <= 0 at the end or on an error
int Send(Socket socket, const char* data, int size);  // <= 0 on an error
void ResetOnClose(Socket socket);  // closing sends a reset instead of the orderly end
// Fixes the system's buffer for what is sent and not yet taken, which otherwise grows by itself.
void LimitSendBuffer(Socket socket, int bytes);
void Close(Socket socket);
}  // namespace sockets

enum class Behaviour {
    Reply,             // sends the given bytes as they are and closes
    Body,              // a 200 answer with the given body
    NeverAnswer,       // reads the request and sends nothing
    StopAfterHeaders,  // announces a body and sends none of it
    Trickle,           // sends the body a byte every 400 ms
    EndlessBody,       // a body that never ends, sent through a small send buffer: what the server
                       // counts as sent is close to what the client took
    RedirectToItself,  // 302 to the same address
    File,              // a file with an ETag, served in whole or in ranges; see ServeFile
};

// What goes wrong with one request for a file served with ServeFile.
struct Fault {
    enum Kind {
        None,
        Busy,         // 503 with Retry-After: 1
        Reset,        // At bytes of the body, then the connection reset
        Cut,          // At bytes of the body announced whole, then the connection closed
        Stall,        // At bytes of the body, then silence
        IgnoreRange,  // the whole body whatever range was asked for
        OtherRange,   // a part from one byte further than asked for
        OldVersion,   // At bytes of another version of the file, with its own ETag, then closed
        NoValidator,  // At bytes of the body without an ETag, then closed
    } What = None;
    std::size_t At = 0;
};

// All the bytes the server had sent by a moment.
struct SentBy {
    std::chrono::steady_clock::time_point At;
    uint64_t Total = 0;
};

class BrokenServer {
public:
    // Every path is answered with these bytes, as they are.
    explicit BrokenServer(std::string response);
    // Paths not set are answered 404.
    BrokenServer();
    ~BrokenServer();
    BrokenServer(const BrokenServer&) = delete;
    BrokenServer& operator=(const BrokenServer&) = delete;

    // How path (without the leading "/") is answered from now on.
    void Serve(const std::string& path, Behaviour how, std::string bytes = {});
    // path is the file bytes, with an ETag, in ranges when asked (If-Range honoured); each request
    // from now on meets the next of faults, then none.
    void ServeFile(const std::string& path, std::string bytes, std::vector<Fault> faults = {});

    std::string Url(const std::string& path) const;
    // Whether a request was answered.
    bool Served() const { return FRequests > 0; }
    // Requests for path so far.
    int Requests(const std::string& path);
    // Ends every connection and stops listening; the counts below are final from then on.
    void Stop();
    // Body bytes of files sent so far, and those of them a client could not have kept however well
    // it resumed: the part sent again for a range not honoured, another version's bytes.
    uint64_t FileBytesSent() const { return FFileBytes; }
    uint64_t FileBytesSentInVain() const { return FInVain; }
    // The bytes sent on every connection so far, as they went: one entry per millisecond that saw
    // any, the earliest first.
    std::vector<SentBy> SentLog();

private:
    struct Route {
        Behaviour How = Behaviour::Reply;
        std::string Bytes;
        std::vector<Fault> Faults;  // still to come, the next first
    };

    void Listen();
    void Answer(sockets::Socket client);
    Route RouteFor(const std::string& path);
    void AnswerFile(sockets::Socket client, const std::string& request, const Route& route);
    // Keeps the connection open, sending nothing, until the client goes or the server stops.
    void Hold(sockets::Socket client);
    // sent: the bytes that went, also when not all did.
    bool SendAll(sockets::Socket client, const std::string& data, std::size_t* sent = nullptr);
    void LogSent(std::size_t count);

    std::mutex FMutex;
    std::map<std::string, Route> FRoutes;
    std::map<std::string, int> FCounts;
    std::string FDefault;
    uint16_t FPort = 0;
    sockets::Socket FListener = sockets::None;
    std::atomic<bool> FStopping{false};
    std::atomic<int> FRequests{0};
    std::atomic<uint64_t> FFileBytes{0}, FInVain{0};
    std::mutex FLogMutex;
    std::vector<SentBy> FSentLog;
    std::vector<std::thread> FConnections;
    std::thread FThread;
};

}  // namespace orvex::test
