#include "common/file_ops.h"

namespace ov {

platform::Result ReadDataFile(const std::string& path, std::vector<uint8_t>* data,
                              const DataFileAccess& access) {
    return platform::RetryWhileInUse(access.wait_if_held, [&]() -> platform::Result {
        platform::ExclusiveFile file;
        if (platform::Result r = file.Open(path, platform::ExclusiveFile::Mode::ReadExisting); !r)
            return r;
        return file.ReadAll(data, kMaxDataFileSize);
    });
}

platform::Result WriteDataFile(const std::string& path, const std::vector<uint8_t>& data,
                               const DataFileAccess& access) {
    return platform::RetryWhileInUse(access.wait_if_held, [&] {
        return platform::WriteFileAtomically(path, data.data(), data.size(),
                                             platform::NewFile::OwnerOnly);
    });
}

}  // namespace ov
