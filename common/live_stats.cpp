#include "common/live_stats.h"

#include <cstring>

#include "common/bytes.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"

namespace ov {
namespace {

const CounterInfo kInfo[kCounterCount] = {
    {"logins_ok", "logins accepted (reply 1)"},
    {"logins_id_rejected", "logins refused: client ID not trusted (reply 0)"},
    {"logins_no_such_user", "logins refused: no such user (reply 170)"},
    {"logins_bad_password", "logins refused: wrong password (reply 187)"},
    {"logins_locked", "logins refused: account locked (reply 204)"},
    {"cmd_refused_full", "command connections refused: every slot busy"},
    {"cmd_closed_deadline", "command connections closed at a deadline"},
    {"relays_started", "relays connected to their computer"},
    {"relays_refused_full", "relays refused: every pair busy"},
    {"relays_header_timeout", "relays closed: no header in time"},
    {"relays_unknown_computer", "relays closed: computer not in the list"},
    {"relays_connect_failed", "relays closed: the computer could not be reached"},
    {"bytes_to_computer", "bytes relayed from users to computers"},
    {"bytes_to_user", "bytes relayed from computers to users"},
    {"cmd_refused_per_address", "command connections refused: the address holds its share"},
    {"relays_refused_per_address", "relays refused: the address holds its share awaiting a header"},
    {"relays_refused_no_login", "relays refused: no login from the address"},
    {"login_replies_held", "login replies held back after failures from the address"},
    {"paused_peer_gone", "relays freed: a paused side reset or closed"},
    {"slots_per_address_cap", "setting: command slots one address may hold (0: no cap)"},
    {"proxy_needs_login", "setting: relays need a login (1) or not (0)"},
};

// What this reader needs of a record's header and of each session.
constexpr size_t kHeaderKnown = StatsLayout::kSessionsAtOffset + 4;
constexpr size_t kSessionKnown = SessionRecord::kNameOffset + kHostNameSize;

}  // namespace

const CounterInfo& InfoOf(Counter c) {
    return kInfo[size_t(c) < kCounterCount ? size_t(c) : 0];
}

void SessionInfo::EncodeTo(uint8_t* r) const {
    using R = SessionRecord;
    std::memset(r, 0, R::kSize);
    std::memcpy(r + R::kUserAddressOffset, user_address, 4);
    EncodeFixed16LE(r + R::kUserPortOffset, user_port);
    EncodeFixed16LE(r + R::kComputerPortOffset, computer_port);
    std::memcpy(r + R::kComputerAddressOffset, computer_address, 4);
    EncodeFixed32LE(r + R::kSlotOffset, slot);
    EncodeFixed64LE(r + R::kStartedOffset, uint64_t(started));
    EncodeFixed64LE(r + R::kToComputerOffset, to_computer);
    EncodeFixed64LE(r + R::kToUserOffset, to_user);
    std::memcpy(r + R::kNameOffset, computer.data(),
                computer.size() < kHostNameSize ? computer.size() : kHostNameSize);
}

SessionInfo SessionInfo::DecodeFrom(const uint8_t* r) {
    using R = SessionRecord;
    SessionInfo s;
    std::memcpy(s.user_address, r + R::kUserAddressOffset, 4);
    s.user_port = DecodeFixed16LE(r + R::kUserPortOffset);
    s.computer_port = DecodeFixed16LE(r + R::kComputerPortOffset);
    std::memcpy(s.computer_address, r + R::kComputerAddressOffset, 4);
    s.slot = DecodeFixed32LE(r + R::kSlotOffset);
    s.started = int64_t(DecodeFixed64LE(r + R::kStartedOffset));
    s.to_computer = DecodeFixed64LE(r + R::kToComputerOffset);
    s.to_user = DecodeFixed64LE(r + R::kToUserOffset);
    s.computer = FieldText(reinterpret_cast<const char*>(r + R::kNameOffset), kHostNameSize);
    return s;
}

void EncodeStats(const StatsSnapshot& stats, uint8_t* area, size_t max_sessions) {
    using L = StatsLayout;
    std::memset(area, 0, L::AreaSize(max_sessions));
    const size_t n = stats.sessions.size() < max_sessions ? stats.sessions.size() : max_sessions;
    EncodeFixed32LE(area + L::kMagicOffset, L::kMagic);
    EncodeFixed32LE(area + L::kVersionOffset, L::kVersion);
    EncodeFixed32LE(area + L::kHeaderSizeOffset, L::kHeaderSize);
    EncodeFixed32LE(area + L::kCounterCountOffset, kCounterCount);
    EncodeFixed32LE(area + L::kSessionSizeOffset, SessionRecord::kSize);
    EncodeFixed32LE(area + L::kMaxSessionsOffset, uint32_t(max_sessions));
    EncodeFixed32LE(area + L::kSessionCountOffset, uint32_t(n));
    EncodeFixed32LE(area + L::kSequenceOffset, stats.sequence);
    EncodeFixed64LE(area + L::kStartedOffset, uint64_t(stats.started));
    EncodeFixed64LE(area + L::kPublishedOffset, uint64_t(stats.published));
    EncodeFixed32LE(area + L::kSessionsAtOffset, L::kSessionsOffset);
    for (size_t i = 0; i < kCounterCount; ++i)
        EncodeFixed64LE(area + L::kHeaderSize + 8 * i, stats.counters[i]);
    for (size_t i = 0; i < n; ++i)
        stats.sessions[i].EncodeTo(area + L::kSessionsOffset + i * SessionRecord::kSize);
}

bool DecodeStats(const uint8_t* area, size_t size, StatsSnapshot* out) {
    using L = StatsLayout;
    if (size < kHeaderKnown || DecodeFixed32LE(area + L::kMagicOffset) != L::kMagic ||
        DecodeFixed32LE(area + L::kVersionOffset) < 1)
        return false;
    const uint64_t header = DecodeFixed32LE(area + L::kHeaderSizeOffset);
    const uint64_t counters = DecodeFixed32LE(area + L::kCounterCountOffset);
    const uint64_t session_size = DecodeFixed32LE(area + L::kSessionSizeOffset);
    const uint64_t slots = DecodeFixed32LE(area + L::kMaxSessionsOffset);
    const uint64_t count = DecodeFixed32LE(area + L::kSessionCountOffset);
    const uint64_t sessions_at = DecodeFixed32LE(area + L::kSessionsAtOffset);
    // 64-bit sums of 32-bit fields cannot wrap, so a hostile or stale area
    // is refused here rather than read past its end.
    if (header < kHeaderKnown || header + 8 * counters > size || session_size < kSessionKnown ||
        count > slots || sessions_at + count * session_size > size)
        return false;
    StatsSnapshot s;
    s.sequence = DecodeFixed32LE(area + L::kSequenceOffset);
    s.started = int64_t(DecodeFixed64LE(area + L::kStartedOffset));
    s.published = int64_t(DecodeFixed64LE(area + L::kPublishedOffset));
    for (size_t i = 0; i < kCounterCount && i < counters; ++i)
        s.counters[i] = DecodeFixed64LE(area + header + 8 * i);
    s.sessions.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i)
        s.sessions.push_back(SessionInfo::DecodeFrom(area + sessions_at + i * session_size));
    *out = std::move(s);
    return true;
}

bool ReadPublishedStats(StatsSnapshot* stats, const std::string& view_name) {
    using L = StatsLayout;
    // The header first: it says how large the whole area is, which depends
    // on the gateway's MaxRelays (and on its version).
    platform::SharedMemory view;
    if (!view.Open(view_name, L::kHeaderSize, platform::SharedMemory::Access::ReadOnly))
        return false;
    platform::NamedMutex mutex;
    mutex.Create(view_name + "Mutex");
    uint64_t wanted = 0;
    {
        platform::NamedMutexLock lock(mutex);
        const uint8_t* h = view.data();
        const uint64_t counters_end = uint64_t(DecodeFixed32LE(h + L::kHeaderSizeOffset)) +
                                      8 * uint64_t(DecodeFixed32LE(h + L::kCounterCountOffset));
        const uint64_t sessions_end = uint64_t(DecodeFixed32LE(h + L::kSessionsAtOffset)) +
                                      uint64_t(DecodeFixed32LE(h + L::kMaxSessionsOffset)) *
                                          uint64_t(DecodeFixed32LE(h + L::kSessionSizeOffset));
        wanted = counters_end > sessions_end ? counters_end : sessions_end;
    }
    // Far beyond any gateway's area: a header that says more is not read.
    constexpr uint64_t kReadLimit = uint64_t(64) << 20;
    if (wanted > kReadLimit)
        return false;
    if (wanted > view.size()) {
        view.Close();
        // Smaller than its header says (a gateway restarted meanwhile with
        // fewer relays): not attached, so nothing past its end is read.
        if (!view.Open(view_name, size_t(wanted), platform::SharedMemory::Access::ReadOnly))
            return false;
    }
    // Copied under the lock, decoded after it: the gateway never waits on
    // a slow reader for longer than one copy.
    std::vector<uint8_t> copy(view.size());
    {
        platform::NamedMutexLock lock(mutex);
        std::memcpy(copy.data(), view.data(), copy.size());
    }
    return DecodeStats(copy.data(), copy.size(), stats);
}

}  // namespace ov
