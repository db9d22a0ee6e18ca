// The parts of the file layer that are the same on every system.
#include "platform/files.h"

#include <thread>

namespace ov::platform {

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = kInvalid;
}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = kInvalid;
    }
    return *this;
}

ExclusiveFile::~ExclusiveFile() {
    Close();
}

uint32_t LastErrorCode() {
    return Error::Last().code;
}
std::string ErrorText() {
    return Error::Last().Text();
}

Result CopyFileOver(const std::string& source, const std::string& target, uint64_t limit,
                    NewFile created) {
    std::vector<uint8_t> bytes;
    {
        ExclusiveFile in;
        if (Result r = in.Open(source, ExclusiveFile::Mode::ReadExisting); !r)
            return r;
        if (Result r = in.ReadAll(&bytes, limit); !r)
            return r;
    }
    return WriteFileAtomically(target, bytes.data(), bytes.size(), created);
}

Result RetryWhileInUse(std::chrono::milliseconds wait, const std::function<Result()>& attempt) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        Result r = attempt();
        if (r || !r.error().InUse() || std::chrono::steady_clock::now() >= deadline)
            return r;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace ov::platform
