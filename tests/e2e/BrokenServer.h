#pragma once
// A hostile HTTP server on 127.0.0.1: it answers each path the way a test sets, including the ways
// a real server never does (a body cut short, silence, a trickle, a body without end, a redirect to
// itself). It serves any number of requests, one connection each, and stops when it goes.
#include <atomic>
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
void Close(Socket socket);
}  // namespace sockets

enum class Behaviour {
    Reply,             // sends the given bytes as they are and closes
    Body,              // a 200 answer with the given body
    NeverAnswer,       // reads the request and sends nothing
    StopAfterHeaders,  // announces a body and sends none of it
    Trickle,           // sends the body a byte every 400 ms
    EndlessBody,       // a body that never ends
    RedirectToItself,  // 302 to the same address
    BusyFirst,         // 503 with Retry-After: 1 for the first requests, then a 200 answer with the body
    CutFirst,          // for the first requests, half the body announced whole; then all of it
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

    // How path (without the leading "/") is answered from now on; failures counts the first
    // requests of BusyFirst and CutFirst, from now on.
    void Serve(const std::string& path, Behaviour how, std::string bytes = {}, int failures = 0);

    std::string Url(const std::string& path) const;
    // Whether a request was answered.
    bool Served() const { return FRequests > 0; }
    // Requests for path so far.
    int Requests(const std::string& path);

private:
    struct Route {
        Behaviour How = Behaviour::Reply;
        std::string Bytes;
        int Failures = 0;  // still to come
    };

    void Listen();
    void Answer(sockets::Socket client);
    Route RouteFor(const std::string& path);
    // Keeps the connection open, sending nothing, until the client goes or the server stops.
    void Hold(sockets::Socket client);
    bool SendAll(sockets::Socket client, const std::string& data);

    std::mutex FMutex;
    std::map<std::string, Route> FRoutes;
    std::map<std::string, int> FCounts;
    std::string FDefault;
    uint16_t FPort = 0;
    sockets::Socket FListener = sockets::None;
    std::atomic<bool> FStopping{false};
    std::atomic<int> FRequests{0};
    std::vector<std::thread> FConnections;
    std::thread FThread;
};

}  // namespace orvex::test
