#pragma once
// A one-shot HTTP server on 127.0.0.1 that answers the first request with fixed bytes and then
// closes the connection: for responses a real server never sends, such as a body cut short.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace orvex::test {

// The socket calls, per OS.
namespace sockets {
using Socket = std::intptr_t;
inline constexpr Socket None = -1;
Socket ListenOnLoopback(uint16_t& port);  // any free port; None on failure
bool WaitReadable(Socket socket, int milliseconds);
Socket Accept(Socket listener);
int Receive(Socket socket, char* buffer, int size);  // <= 0 at the end or on an error
bool SendAll(Socket socket, const std::string& data);
void Close(Socket socket);
}  // namespace sockets

class BrokenServer {
public:
    explicit BrokenServer(std::string response);
    ~BrokenServer();
    BrokenServer(const BrokenServer&) = delete;
    BrokenServer& operator=(const BrokenServer&) = delete;

    std::string Url(const std::string& path) const;
    // Whether a request was answered.
    bool Served() const { return FServed; }

private:
    void Serve();

    std::string FResponse;
    uint16_t FPort = 0;
    sockets::Socket FListener = sockets::None;
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FServed{false};
    std::thread FThread;
};

}  // namespace orvex::test
