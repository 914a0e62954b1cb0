#include "BrokenServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvex::test::sockets {

Socket ListenOnLoopback(uint16_t& port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return None;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 4) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(s);
        return None;
    }
    port = ntohs(address.sin_port);
    return s;
}

bool WaitReadable(Socket socket, int milliseconds) {
    pollfd fd{static_cast<int>(socket), POLLIN, 0};
    return ::poll(&fd, 1, milliseconds) > 0;
}

bool WaitWritable(Socket socket, int milliseconds) {
    pollfd fd{static_cast<int>(socket), POLLOUT, 0};
    return ::poll(&fd, 1, milliseconds) > 0;
}

Socket Accept(Socket listener) {
    const int s = ::accept(static_cast<int>(listener), nullptr, nullptr);
    return s < 0 ? None : s;
}

int Receive(Socket socket, char* buffer, int size) {
    return static_cast<int>(::recv(static_cast<int>(socket), buffer, static_cast<size_t>(size), 0));
}

int Send(Socket socket, const char* data, int size) {
    return static_cast<int>(::send(static_cast<int>(socket), data, static_cast<size_t>(size), MSG_NOSIGNAL));
}

void ResetOnClose(Socket socket) {
    const linger abort{1, 0};
    static_cast<void>(::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort));
}

void LimitSendBuffer(Socket socket, int bytes) {
    const int size = bytes;
    static_cast<void>(::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_SNDBUF, &size, sizeof size));
}

void Close(Socket socket) {
    if (socket != None) ::close(static_cast<int>(socket));
}

}  // namespace orvex::test::sockets
