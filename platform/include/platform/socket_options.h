// Socket options whose right choice differs between systems.
#pragma once

#include <cstdint>

namespace ov::platform {

// Lets a listener bind its port again at once after a restart, while the
// connections of the previous run still linger, without ever sharing the
// port with a live listener. POSIX needs SO_REUSEADDR for that (which there
// never lets two listeners share); on Windows SO_REUSEADDR would let another
// program take the port over, and the default already allows the rebind.
// REQUIRES: handle is an open socket that is not bound yet.
bool AllowListenerRebind(intptr_t handle);

// The system refuses the kind of socket itself (Windows: 10043 and its
// kin), not the address or port: no other port setting would help.
bool SocketKindNotSupported(int error_code);

// An accept failed because that one client went away while it waited in
// the queue (it reset or aborted its connection): the listener is fine and
// the next client may already be waiting. Windows reports this with codes
// of its own (the connection's "network name" deleted, an "unexpected
// network error"), besides the usual reset and abort.
bool ClientGoneBeforeAccept(int error_code);

// What a connected socket's peer has done, seen without taking any of the
// data that may still wait to be read: a relay that has stopped reading a
// side (its other side cannot take more) still learns that the peer left.
enum class PeerState { Open, Closed, Reset };
PeerState PollPeer(intptr_t handle);

}  // namespace ov::platform
