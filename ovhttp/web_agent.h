// The web agent operations behind the library's exports. Each builds one GET
// URL, fetches the reply into an 8000-byte buffer and judges it by the fixed
// tokens it contains; results and messages are those of the exports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ovhttp/ovhttp.h"

namespace ov::http {

// Replies are judged on at most kReplyBufferSize - 1 bytes.
inline constexpr size_t kReplyBufferSize = 8000;
inline constexpr size_t kMessageSize = OVHTTP_MESSAGE_SIZE;
// Room in PeerList::records grows by this many records at a time.
inline constexpr int32_t kPeerListBlock = 10;

int8_t ConnectTest(const char* url, char* message);
int8_t ChangePassword(const WebAgentInfo* agent, const char* new_password, char* message);
// gateway: the OVG report (funcid 3), else the OVC report (funcid 2).
int8_t UpdateInfo(const WebAgentInfo* agent, PeerInfo* self, PeerList* peers, char* message,
                  bool gateway);
int8_t ConnectOVG(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b, char* message);
int8_t OVGClearFlag(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b, char* message);
void FreePeerList(PeerList* list);

// The plain text of a report, lower-cased (single-byte characters only, so
// that the trail bytes of Chinese names stay as they are).
std::string ReportPayload(const PeerInfo& self);

// Appends the "#contentbegin ... #end" records of the wanted kind (gateway or
// client) to peers. OVHTTP_DONE: at least one read; OVHTTP_RECORD_UNREADABLE:
// a block of that kind could not be read; OVHTTP_NO_GATEWAY (gateways only,
// with its message): no block at all; OVHTTP_NO_READABLE_RECORD (with its
// message): nothing readable.
int8_t ReadPeerRecords(std::string_view reply, bool gateways, std::string_view key_text,
                       PeerList* peers, char* message);

// False when the list is inconsistent or memory ran out; the list is then
// unchanged.
bool AppendPeer(PeerList* list, const PeerInfo& record);

}  // namespace ov::http
