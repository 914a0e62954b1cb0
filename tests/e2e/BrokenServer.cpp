#include "BrokenServer.h"

#include <stdexcept>

namespace orvex::test {

BrokenServer::BrokenServer(std::string response) : FResponse(std::move(response)) {
    FListener = sockets::ListenOnLoopback(FPort);
    if (FListener == sockets::None) throw std::runtime_error("cannot listen on 127.0.0.1");
    FThread = std::thread([this] { Serve(); });
}

BrokenServer::~BrokenServer() {
    FStopping = true;
    FThread.join();
    sockets::Close(FListener);
}

std::string BrokenServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + "/" + path;
}

void BrokenServer::Serve() {
    while (!FStopping && !sockets::WaitReadable(FListener, 50)) {
    }
    if (FStopping) return;
    const sockets::Socket client = sockets::Accept(FListener);
    if (client == sockets::None) return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && !FStopping) {
        if (!sockets::WaitReadable(client, 50)) continue;
        const int got = sockets::Receive(client, buffer, sizeof buffer);
        if (got <= 0) break;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    sockets::SendAll(client, FResponse);
    FServed = true;
    sockets::Close(client);
}

}  // namespace orvex::test
