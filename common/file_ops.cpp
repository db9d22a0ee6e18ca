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

FileOpResult BackupDataFile(const std::string& live, const std::string& chosen,
                            const DataFileAccess& access, const char* done, const char* failed) {
    std::vector<uint8_t> data;
    platform::Result r = ReadDataFile(live, &data, access);
    if (r)
        r = WriteDataFile(WithDatSuffix(chosen), data);
    if (r)
        return {true, done};
    return {false, failed, r.error().Text()};
}

}  // namespace ov
