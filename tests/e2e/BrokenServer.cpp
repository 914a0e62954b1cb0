#include "BrokenServer.h"

#include <chrono>
#include <stdexcept>

namespace orvex::test {
namespace {

std::string NotFound() { return "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found"; }

// The path of "GET /path HTTP/1.1", without its "/".
std::string RequestedPath(const std::string& request) {
    const auto start = request.find(" /");
    const auto end = request.find(' ', start + 2);
    if (start == std::string::npos || end == std::string::npos) return std::string();
    return request.substr(start + 2, end - start - 2);
}

}  // namespace

BrokenServer::BrokenServer(std::string response) : FDefault(std::move(response)) {
    Listen();
}

BrokenServer::BrokenServer() : FDefault(NotFound()) {
    Listen();
}

void BrokenServer::Listen() {
    FListener = sockets::ListenOnLoopback(FPort);
    if (FListener == sockets::None) throw std::runtime_error("cannot listen on 127.0.0.1");
    FThread = std::thread([this] {
        while (!FStopping) {
            if (!sockets::WaitReadable(FListener, 50)) continue;
            const sockets::Socket client = sockets::Accept(FListener);
            if (client == sockets::None) continue;
            const std::lock_guard<std::mutex> lock(FMutex);
            FConnections.emplace_back([this, client] {
                Answer(client);
                sockets::Close(client);
            });
        }
    });
}

BrokenServer::~BrokenServer() {
    FStopping = true;
    FThread.join();
    for (auto& connection : FConnections) connection.join();
    sockets::Close(FListener);
}

void BrokenServer::Serve(const std::string& path, Behaviour how, std::string bytes, int failures) {
    const std::lock_guard<std::mutex> lock(FMutex);
    FRoutes[path] = Route{how, std::move(bytes), failures};
}

std::string BrokenServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + "/" + path;
}

int BrokenServer::Requests(const std::string& path) {
    const std::lock_guard<std::mutex> lock(FMutex);
    return FCounts[path];
}

BrokenServer::Route BrokenServer::RouteFor(const std::string& path) {
    const std::lock_guard<std::mutex> lock(FMutex);
    ++FCounts[path];
    const auto found = FRoutes.find(path);
    if (found == FRoutes.end()) return Route{Behaviour::Reply, FDefault};
    Route route = found->second;
    if (found->second.Failures > 0) --found->second.Failures;
    return route;
}

void BrokenServer::Hold(sockets::Socket client) {
    char buffer[4096];
    while (!FStopping)
        if (sockets::WaitReadable(client, 50) && sockets::Receive(client, buffer, sizeof buffer) <= 0) return;
}

// Gives up when the client goes or the server stops, also while the client reads nothing.
bool BrokenServer::SendAll(sockets::Socket client, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        if (FStopping) return false;
        if (!sockets::WaitWritable(client, 50)) continue;
        const int put = sockets::Send(client, data.data() + done, static_cast<int>(data.size() - done));
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

void BrokenServer::Answer(sockets::Socket client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        if (FStopping) return;
        if (!sockets::WaitReadable(client, 50)) continue;
        const int got = sockets::Receive(client, buffer, sizeof buffer);
        if (got <= 0) return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string path = RequestedPath(request);
    const Route route = RouteFor(path);
    ++FRequests;
    const std::string ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    switch (route.How) {
        case Behaviour::Reply:
            SendAll(client, route.Bytes);
            return;
        case Behaviour::Body:
            SendAll(client, ok + "Content-Length: " + std::to_string(route.Bytes.size()) + "\r\n\r\n" + route.Bytes);
            return;
        case Behaviour::NeverAnswer:
            Hold(client);
            return;
        case Behaviour::StopAfterHeaders:
            if (SendAll(client, ok + "Content-Length: 100000\r\n\r\n")) Hold(client);
            return;
        case Behaviour::Trickle: {
            if (!SendAll(client, ok + "Content-Length: 1000000\r\n\r\n")) return;
            for (int tick = 0; !FStopping; ++tick) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (tick % 8 == 7 && !SendAll(client, "x")) return;
            }
            return;
        }
        case Behaviour::EndlessBody: {
            if (!SendAll(client, ok + "\r\n")) return;
            const std::string block(65536, 'E');
            while (SendAll(client, block)) {
            }
            return;
        }
        case Behaviour::BusyFirst:
            if (route.Failures > 0)
                SendAll(client, "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            else
                SendAll(client, ok + "Content-Length: " + std::to_string(route.Bytes.size()) + "\r\n\r\n" + route.Bytes);
            return;
        case Behaviour::CutFirst: {
            const std::string head = ok + "Content-Length: " + std::to_string(route.Bytes.size()) + "\r\n\r\n";
            SendAll(client, head + (route.Failures > 0 ? route.Bytes.substr(0, route.Bytes.size() / 2) : route.Bytes));
            return;
        }
        case Behaviour::RedirectToItself:
            SendAll(client, "HTTP/1.1 302 Found\r\nLocation: /" + path + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
    }
}

}  // namespace orvex::test
