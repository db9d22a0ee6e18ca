#include "platform/data_file_lock.h"

namespace ov::platform {

Result DataFileLock::Acquire(const std::string& data_file, std::chrono::milliseconds wait) {
    const std::string path = LockPath(data_file);
    return RetryWhileInUse(wait,
                           [&] { return m_file.Open(path, ExclusiveFile::Mode::OpenAlways); });
}

}  // namespace ov::platform
