// Blocking TCP client sockets: the few calls a request-and-wait client such as
// ovhttp's makes. Every failing call leaves its error for LastSocketError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ov::platform {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Windows Sockets must be started before the first socket and stopped after
// the last; elsewhere these do nothing.
bool StartSockets();
void StopSockets();

int LastSocketError();

SocketHandle OpenTcpSocket();
void CloseSocket(SocketHandle s);

// A close then resets the connection instead of lingering.
bool SetLingerZero(SocketHandle s);
bool SetReceiveTimeout(SocketHandle s, uint32_t milliseconds);
bool SetSendTimeout(SocketHandle s, uint32_t milliseconds);
bool BindAny(SocketHandle s);

// The IPv4 address of host (network byte order): first as a name, then as a
// dotted address. False with the resolver's error in *error when neither
// gives one.
bool ResolveHost(const std::string& host, uint32_t* address, int* error);

// One readiness poll with a zero time-out; false only when the call failed.
bool PollOnce(SocketHandle s);

bool Connect(SocketHandle s, uint32_t address, uint16_t port);

// Bytes sent or received; -1 on error (and on a receive time-out); 0 from
// Receive when the peer closed.
long SendSome(SocketHandle s, const char* data, size_t size);
long ReceiveSome(SocketHandle s, char* data, size_t size);

}  // namespace ov::platform
