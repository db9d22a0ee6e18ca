// One change at a time to a data file (uinfo.dat, TrustID.dat) among all of
// our programs. A change reads the file, edits the list and writes it back;
// two of them side by side would each write back their own edit of the same
// old list, and one edit would be lost. So every program that changes a
// data file takes its lock before the read and keeps it until the new file
// has replaced the old one.
//
// The lock is an exclusive open of "<data file>.lock" beside the data file
// (flock on Linux, a share mode of none on Windows), so the system releases
// it when its holder ends, also by a crash. The lock file holds nothing and
// is left in place. Readers (the gateway) take no lock: every save replaces
// the file in one rename.
#pragma once

#include <chrono>
#include <string>

#include "platform/files.h"

namespace ov::platform {

class DataFileLock {
  public:
    DataFileLock() = default;
    DataFileLock(DataFileLock&&) = default;
    DataFileLock& operator=(DataFileLock&&) = default;
    ~DataFileLock() = default;  // releases

    // Takes the lock of data_file, waiting at most wait while another
    // program holds it. Fails with the system's reason (InUse() when the
    // wait ran out).
    Result Acquire(const std::string& data_file, std::chrono::milliseconds wait);
    void Release() { m_file.Close(); }
    bool Held() const { return m_file.IsOpen(); }

    static std::string LockPath(const std::string& data_file) { return data_file + ".lock"; }

  private:
    ExclusiveFile m_file;
};

}  // namespace ov::platform
