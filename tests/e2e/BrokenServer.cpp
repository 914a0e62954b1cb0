#include "BrokenServer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace orvex::test {
namespace {

// A request header's value; empty when the request has none.
std::string RequestHeader(const std::string& request, const std::string& name) {
    const auto at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos) return std::string();
    const auto start = at + name.size() + 4;
    return request.substr(start, request.find("\r\n", start) - start);
}

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
    Stop();
}

void BrokenServer::Stop() {
    if (FStopping.exchange(true)) return;
    FThread.join();
    for (auto& connection : FConnections) connection.join();
    sockets::Close(FListener);
}

void BrokenServer::Serve(const std::string& path, Behaviour how, std::string bytes) {
    const std::lock_guard<std::mutex> lock(FMutex);
    FRoutes[path] = Route{how, std::move(bytes), {}};
}

void BrokenServer::ServeFile(const std::string& path, std::string bytes, std::vector<Fault> faults) {
    const std::lock_guard<std::mutex> lock(FMutex);
    FRoutes[path] = Route{Behaviour::File, std::move(bytes), std::move(faults)};
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
    if (found == FRoutes.end()) return Route{Behaviour::Reply, FDefault, {}};
    Route route = found->second;
    if (!found->second.Faults.empty()) found->second.Faults.erase(found->second.Faults.begin());
    return route;
}

void BrokenServer::Hold(sockets::Socket client) {
    char buffer[4096];
    while (!FStopping)
        if (sockets::WaitReadable(client, 50) && sockets::Receive(client, buffer, sizeof buffer) <= 0) return;
}

// Gives up when the client goes or the server stops, also while the client reads nothing.
bool BrokenServer::SendAll(sockets::Socket client, const std::string& data, std::size_t* sent) {
    std::size_t done = 0;
    std::size_t& count = sent ? *sent : done;
    count = 0;
    while (count < data.size()) {
        if (FStopping) return false;
        if (!sockets::WaitWritable(client, 50)) continue;
        const int put = sockets::Send(client, data.data() + count, static_cast<int>(data.size() - count));
        if (put <= 0) return false;
        count += static_cast<std::size_t>(put);
        LogSent(static_cast<std::size_t>(put));
    }
    return true;
}

void BrokenServer::LogSent(std::size_t count) {
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> lock(FLogMutex);
    const uint64_t total = (FSentLog.empty() ? 0 : FSentLog.back().Total) + count;
    if (!FSentLog.empty() && now - FSentLog.back().At < std::chrono::milliseconds(1))
        FSentLog.back().Total = total;
    else
        FSentLog.push_back({now, total});
}

std::vector<SentBy> BrokenServer::SentLog() {
    const std::lock_guard<std::mutex> lock(FLogMutex);
    return FSentLog;
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
            sockets::LimitSendBuffer(client, 32 * 1024);
            if (!SendAll(client, ok + "\r\n")) return;
            const std::string block(65536, 'E');
            while (SendAll(client, block)) {
            }
            return;
        }
        case Behaviour::File:
            AnswerFile(client, request, route);
            return;
        case Behaviour::RedirectToItself:
            SendAll(client, "HTTP/1.1 302 Found\r\nLocation: /" + path + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
    }
}

// The file route: ranges as a web server serves them, and the fault this request meets.
void BrokenServer::AnswerFile(sockets::Socket client, const std::string& request, const Route& route) {
    const Fault fault = route.Faults.empty() ? Fault{} : route.Faults.front();
    if (fault.What == Fault::Busy) {
        SendAll(client, "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    std::string body = route.Bytes;
    std::string etag = "\"v" + std::to_string(body.size()) + "\"";
    if (fault.What == Fault::OldVersion) {
        for (char& c : body) c = static_cast<char>(c ^ 0x5A);
        etag = "\"old\"";
    }
    const std::string range = RequestHeader(request, "Range");
    const std::string ifRange = RequestHeader(request, "If-Range");
    std::size_t from = 0;
    const bool asked = range.compare(0, 6, "bytes=") == 0;
    if (asked) from = static_cast<std::size_t>(std::stoull(range.substr(6)));
    const bool honoured = asked && (ifRange.empty() || ifRange == etag) && fault.What != Fault::IgnoreRange;
    if (honoured && from >= body.size()) {
        SendAll(client, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(body.size()) +
                            "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    std::size_t start = honoured ? from : 0;
    if (honoured && fault.What == Fault::OtherRange) ++start;
    std::string head = honoured ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(start) + "-" +
                                      std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) + "\r\n"
                                : "HTTP/1.1 200 OK\r\n";
    if (fault.What != Fault::NoValidator) head += "ETag: " + etag + "\r\n";
    head += "Content-Length: " + std::to_string(body.size() - start) + "\r\nConnection: close\r\n\r\n";
    if (!SendAll(client, head)) return;

    const bool cut = fault.What == Fault::Reset || fault.What == Fault::Cut || fault.What == Fault::Stall ||
                     fault.What == Fault::OldVersion || fault.What == Fault::NoValidator;
    std::size_t count = 0;
    const bool whole = SendAll(client, body.substr(start, cut ? std::min(fault.At, body.size() - start - 1) : std::string::npos), &count);
    FFileBytes += count;
    // Bytes the client had already and gets again because its valid range was not honoured, and
    // bytes it can never use.
    if (fault.What == Fault::IgnoreRange && asked && ifRange == etag) FInVain += std::min(from, count);
    if (fault.What == Fault::OtherRange && honoured) FInVain += from + count;  // the client starts over
    if (fault.What == Fault::OldVersion || (fault.What == Fault::NoValidator && !honoured)) FInVain += count;
    if (!whole) return;
    switch (fault.What) {
        case Fault::Reset:
            // Time for the client to read what was sent: a reset drops what it has not read yet.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            sockets::ResetOnClose(client);
            return;
        case Fault::Stall:
            Hold(client);
            return;
        default:
            return;
    }
}

}  // namespace orvex::test
