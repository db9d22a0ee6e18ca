#include "platform/blocking_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ov::platform {
namespace {

bool SetTimeout(SocketHandle s, int option, uint32_t milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    return setsockopt(int(s), SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace

bool StartSockets() {
    return true;
}
void StopSockets() {}

int LastSocketError() {
    return errno;
}

SocketHandle OpenTcpSocket() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return s < 0 ? kNoSocket : SocketHandle(s);
}

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket)
        close(int(s));
}

bool SetLingerZero(SocketHandle s) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    return setsockopt(int(s), SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

bool SetReceiveTimeout(SocketHandle s, uint32_t ms) {
    return SetTimeout(s, SO_RCVTIMEO, ms);
}
bool SetSendTimeout(SocketHandle s, uint32_t ms) {
    return SetTimeout(s, SO_SNDTIMEO, ms);
}

bool BindAny(SocketHandle s) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = 0;
    return bind(int(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

bool ResolveHost(const std::string& host, uint32_t* address, int* error) {
    // getaddrinfo rather than gethostbyname: the callers run on several
    // threads at once and gethostbyname's result is shared.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = host.empty() ? EAI_NONAME : getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc == 0 && found) {
        *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
        return true;
    }
    if (found)
        freeaddrinfo(found);
    in_addr_t dotted = inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        *address = dotted;
        return true;
    }
    *error = rc == EAI_SYSTEM ? errno : rc;
    return false;
}

bool PollOnce(SocketHandle s) {
    pollfd p{};
    p.fd = int(s);
    p.events = POLLIN;
    return poll(&p, 1, 0) >= 0;
}

bool Connect(SocketHandle s, uint32_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(port);
    int rc;
    do {
        rc = connect(int(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

long SendSome(SocketHandle s, const char* data, size_t size) {
    ssize_t n;
    do {
        n = send(int(s), data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return long(n);
}

long ReceiveSome(SocketHandle s, char* data, size_t size) {
    ssize_t n;
    do {
        n = recv(int(s), data, size, 0);
    } while (n < 0 && errno == EINTR);
    return long(n);
}

}  // namespace ov::platform
