// What the running gateway has done since it started, and the relays live
// right now, as it publishes them for other processes (ovadmin, the
// console): a named shared area beside the computer list, with its own
// lock. The record describes itself (version and sizes), so a reader built
// for an older layout still reads the fields it knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/computer_records.h"

namespace ov {

// Counters, in their order in the published record; new ones go last.
enum class Counter : uint32_t {
    LoginOk,             // reply 1
    LoginIdRejected,     // reply 0: the client's ID is not trusted
    LoginNoSuchUser,     // reply 170
    LoginBadPassword,    // reply 187
    LoginLocked,         // reply 204
    CmdRefusedFull,      // every command slot was busy
    CmdClosedDeadline,   // a frame or the login did not come in time
    RelayStarted,        // connected to the computer, relaying
    RelayRefusedFull,    // every relay pair was busy
    RelayHeaderTimeout,  // no header in time
    RelayUnknownComputer,
    RelayConnectFailed,
    BytesToComputer,
    BytesToUser,
    CmdRefusedPerAddress,    // the address already held its share of command slots
    RelayRefusedPerAddress,  // the address already held its share of relays awaiting a header
    RelayRefusedNoLogin,     // relays need a login, and the address had none
    LoginRepliesHeld,        // replies held back after failed logins from their address
    PausedPeerGone,          // a side whose reading was paused reset or closed
    // Not counts but the settings in force, set at every publication:
    SlotsPerAddressCap,  // command slots one address may hold; 0 = no cap
    ProxyNeedsLogin,     // 1 when relays need a login
    kCount
};
inline constexpr size_t kCounterCount = size_t(Counter::kCount);

struct CounterInfo {
    const char* name;  // for text and JSON
    const char* help;  // one line, for people
};
const CounterInfo& InfoOf(Counter c);

// A live relay as published.
struct SessionRecord {
    static constexpr size_t kSize = 96;
    static constexpr size_t kUserAddressOffset = 0, kUserPortOffset = 4, kComputerPortOffset = 6,
                            kComputerAddressOffset = 8, kSlotOffset = 12, kStartedOffset = 16,
                            kToComputerOffset = 24, kToUserOffset = 32, kNameOffset = 40;
    uint8_t bytes[kSize] = {};
};
static_assert(sizeof(SessionRecord) == 96);
static_assert(SessionRecord::kNameOffset + kHostNameSize <= SessionRecord::kSize);

// The area: a 64-byte header, the counters (8 bytes each) right after it,
// then the session records where the header says. All integers little-endian; addresses in network
// order.
struct StatsLayout {
    static constexpr uint32_t kMagic = 0x5453564f;  // "OVST"
    static constexpr uint32_t kVersion = 1;
    static constexpr size_t kHeaderSize = 64;
    static constexpr size_t kMagicOffset = 0, kVersionOffset = 4, kHeaderSizeOffset = 8,
                            kCounterCountOffset = 12, kSessionSizeOffset = 16,
                            kMaxSessionsOffset = 20, kSessionCountOffset = 24, kSequenceOffset = 28,
                            kStartedOffset = 32, kPublishedOffset = 40, kSessionsAtOffset = 48;
    // Room for counters added later without moving the sessions of old readers:
    // readers take the sessions' place from the header, never from this.
    static constexpr size_t kCounterRoom = 32;
    static constexpr size_t kSessionsOffset = kHeaderSize + 8 * kCounterRoom;
    // One session record per relay the gateway may run at once (MaxRelays),
    // fixed for the life of the area and written in the header (MaxSessions),
    // so a reader sizes the area from the header, never from these.
    static constexpr size_t kDefaultSessions = 40;
    static constexpr size_t kSessionsLimit = 1000;
    static constexpr size_t AreaSize(size_t max_sessions) {
        return kSessionsOffset + max_sessions * SessionRecord::kSize;
    }
};
static_assert(StatsLayout::kSessionsAtOffset + 4 <= StatsLayout::kHeaderSize);
static_assert(kCounterCount <= StatsLayout::kCounterRoom);
// The area of 40 sessions is byte for byte the one readers built before the
// number of relays became a setting expect.
static_assert(StatsLayout::AreaSize(StatsLayout::kDefaultSessions) == 4160);

inline constexpr char kStatsViewName[] = "ovs_stats";

struct SessionInfo {
    uint8_t user_address[4] = {};
    uint16_t user_port = 0;
    std::string computer;  // GBK, as the user named it
    uint8_t computer_address[4] = {};
    uint16_t computer_port = 0;
    int64_t started = 0;  // seconds since 1970, UTC
    uint64_t to_computer = 0, to_user = 0;
    uint32_t slot = 0;

    void EncodeTo(uint8_t* record) const;  // SessionRecord::kSize bytes
    static SessionInfo DecodeFrom(const uint8_t* record);
};

struct StatsSnapshot {
    int64_t started = 0, published = 0;  // seconds since 1970, UTC
    uint32_t sequence = 0;               // grows with every publication
    uint64_t counters[kCounterCount] = {};
    std::vector<SessionInfo> sessions;

    uint64_t Get(Counter c) const { return counters[size_t(c)]; }
};

// Writes a whole record of max_sessions session slots into an area of
// StatsLayout::AreaSize(max_sessions) bytes. Sessions past max_sessions are
// left out.
void EncodeStats(const StatsSnapshot& stats, uint8_t* area, size_t max_sessions);
// Reads a record of any number of slots; false when it is not one (wrong
// magic, a version from before this one, more sessions than its slots, or
// sizes that do not fit the size bytes given).
bool DecodeStats(const uint8_t* area, size_t size, StatsSnapshot* stats);

// False when no gateway publishes (the area cannot be attached) or what it
// holds cannot be read. The area is attached at the size its header gives.
bool ReadPublishedStats(StatsSnapshot* stats, const std::string& view_name = kStatsViewName);

}  // namespace ov
