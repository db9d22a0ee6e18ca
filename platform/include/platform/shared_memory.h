// A named block of memory shared between processes: the published computer
// list. Its existence is the sign that its creator still runs: it lasts while
// a creator holds it and goes away with the last one (on Linux a creator that
// was killed leaves a file behind, which is recognised as stale because no
// process holds its lock any more, so it cannot be opened).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ov::platform {

class SharedMemory {
  public:
    enum class Access { ReadOnly, ReadWrite };

    SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    ~SharedMemory();

    // Creates the block of size bytes, zero-filled, or attaches to the live
    // one of that name (*already_existed, may be null, then says so; its
    // bytes are kept). Mapped read-write. False when it cannot be made or a
    // live block of that name is smaller than size (last error set).
    bool Create(const std::string& name, size_t size, bool* already_existed = nullptr);
    // Attaches to the live block of that name; false when no creator holds
    // one or it is smaller than size. Opening does not keep the block alive.
    bool Open(const std::string& name, size_t size, Access access = Access::ReadOnly);
    // Unmaps; a creator that was the last holder removes the name.
    void Close();

    bool IsOpen() const { return m_data != nullptr; }
    // REQUIRES for writes: mapped read-write.
    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

}  // namespace ov::platform
