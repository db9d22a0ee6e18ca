// Where the systems' sockets differ in what a server should do.
#pragma once

namespace ov::platform {

// Whether a listening socket sets SO_REUSEADDR: on Linux it only lets a
// restarted server bind while old connections linger, on Windows it would
// let another program take the port over.
bool ListenerReusesAddress();

// Whether a system error code says that the socket kind or protocol is not
// supported (Windows 10043 and its relatives).
bool IsProtocolNotSupported(int code);

}  // namespace ov::platform
