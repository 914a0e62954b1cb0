#include "BrokenServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace orvex::test::sockets {
namespace {

struct WinsockStartup {
    WinsockStartup() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockStartup() { ::WSACleanup(); }
};

SOCKET Native(Socket socket) { return static_cast<SOCKET>(socket); }

}  // namespace

Socket ListenOnLoopback(uint16_t& port) {
    static WinsockStartup startup;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return None;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 4) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(s);
        return None;
    }
    port = ntohs(address.sin_port);
    return static_cast<Socket>(s);
}

bool WaitReadable(Socket socket, int milliseconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(socket), &readable);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

bool WaitWritable(Socket socket, int milliseconds) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(Native(socket), &writable);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return ::select(0, nullptr, &writable, nullptr, &timeout) > 0;
}

Socket Accept(Socket listener) {
    const SOCKET s = ::accept(Native(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? None : static_cast<Socket>(s);
}

int Receive(Socket socket, char* buffer, int size) { return ::recv(Native(socket), buffer, size, 0); }

int Send(Socket socket, const char* data, int size) { return ::send(Native(socket), data, size, 0); }

void ResetOnClose(Socket socket) {
    const linger abort{1, 0};
    static_cast<void>(::setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort));
}

void LimitSendBuffer(Socket socket, int bytes) {
    const int size = bytes;
    static_cast<void>(::setsockopt(Native(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size));
}

void Close(Socket socket) {
    if (socket != None) ::closesocket(Native(socket));
}

}  // namespace orvex::test::sockets
