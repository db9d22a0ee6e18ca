// The access record OV_G.access.log beside OV_G.log: one line per login and
// one per relay when it ends, tab-separated text in GBK (the format is in
// common/access_record.h). The command and proxy threads hand their records
// over and go on; a writer thread of its own puts them on disk, so a slow
// disk never holds a network thread. At most kMaxPending records wait for
// it: beyond that they are dropped and counted, and a "lost" line says how
// many. The file is appended to across starts, moved to
// OV_G.access.log.bak (replacing an older one) once it passes
// kAccessLogMaxSize, and created for its owner and group only (Linux 0640;
// on Windows it inherits the directory's permissions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "common/access_record.h"

namespace ov::gateway {

// The records and their line format live with the reader's (ovadmin).
using ov::LoginAccess;
using ov::RelayAccess;
using ov::RelayEnd;

class AccessLog {
  public:
    // The record in dir (with its trailing separator), kept like OV_G.log.
    // Never null: a record that cannot be opened is reported in OV_G.log
    // and its lines are dropped.
    static std::shared_ptr<AccessLog> Start(const std::string& dir);

    static constexpr size_t kMaxPending = 10000;
    struct Limits {
        uint64_t max_size = kAccessLogMaxSize;  // rotated when it has passed this
        size_t max_pending = kMaxPending;
    };
    static std::shared_ptr<AccessLog> Start(const std::string& dir, Limits limits);
    virtual ~AccessLog() = default;

    // From any thread; never waits for the disk.
    virtual void Login(const LoginAccess& record) = 0;
    virtual void Relay(const RelayAccess& record) = 0;
    // Writes what is queued and ends the writer (at the gateway's end).
    virtual void Stop() = 0;
};

}  // namespace ov::gateway
