#include "platform/blocking_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace ov::platform {
namespace {

bool TryStartup(WORD version) {
    WSADATA data{};
    if (WSAStartup(version, &data) != 0)
        return false;
    if (data.wVersion == version)
        return true;
    WSACleanup();
    return false;
}

SOCKET Native(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

}  // namespace

bool StartSockets() {
    // The newest version the system offers of those the requests need.
    return TryStartup(MAKEWORD(2, 0)) || TryStartup(MAKEWORD(1, 1)) || TryStartup(MAKEWORD(1, 0));
}

void StopSockets() {
    WSACleanup();
}

int LastSocketError() {
    return WSAGetLastError();
}

SocketHandle OpenTcpSocket() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? kNoSocket : SocketHandle(s);
}

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket)
        closesocket(Native(s));
}

bool SetLingerZero(SocketHandle s) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    return setsockopt(Native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                      sizeof l) == 0;
}

bool SetReceiveTimeout(SocketHandle s, uint32_t ms) {
    DWORD v = ms;
    return setsockopt(Native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v),
                      sizeof v) == 0;
}

bool SetSendTimeout(SocketHandle s, uint32_t ms) {
    DWORD v = ms;
    return setsockopt(Native(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&v),
                      sizeof v) == 0;
}

bool BindAny(SocketHandle s) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = 0;
    return bind(Native(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool ResolveHost(const std::string& host, uint32_t* address, int* error) {
    // gethostbyname keeps its result per thread in Windows Sockets.
    if (!host.empty()) {
        const hostent* h = gethostbyname(host.c_str());
        if (h && h->h_addrtype == AF_INET && h->h_length == 4 && h->h_addr_list[0]) {
            memcpy(address, h->h_addr_list[0], 4);
            return true;
        }
    }
    int resolver_error = WSAGetLastError();
    unsigned long dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        *address = uint32_t(dotted);
        return true;
    }
    *error = resolver_error;
    return false;
}

bool PollOnce(SocketHandle s) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(s), &readable);
    timeval zero{};
    return select(0, &readable, nullptr, nullptr, &zero) != SOCKET_ERROR;
}

bool Connect(SocketHandle s, uint32_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(port);
    return connect(Native(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

long SendSome(SocketHandle s, const char* data, size_t size) {
    int chunk = size > 0x7fffffff ? 0x7fffffff : int(size);
    int n = send(Native(s), data, chunk, 0);
    return n == SOCKET_ERROR ? -1 : long(n);
}

long ReceiveSome(SocketHandle s, char* data, size_t size) {
    int chunk = size > 0x7fffffff ? 0x7fffffff : int(size);
    int n = recv(Native(s), data, chunk, 0);
    return n == SOCKET_ERROR ? -1 : long(n);
}

}  // namespace ov::platform
