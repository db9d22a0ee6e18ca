// The console's view of the gateway's published computer list. A successful
// attach means a gateway still holds the list: attach gives up our own
// handles first, since on Windows they alone would keep the list alive.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "common/computer_records.h"

namespace ov::platform {
class NamedMutex;
class SharedMemory;
}  // namespace ov::platform

namespace ov::console {

// What the computer view reads; the shared list below, or a test's fake.
class ComputerListSource {
  public:
    virtual ~ComputerListSource() = default;
    // Opens the list again; true when a gateway publishes it.
    virtual bool Attach() = 0;
    virtual bool IsAttached() const = 0;
    // 0 when not attached.
    virtual int Count() = 0;
    // Copies the first n entries; false when not attached or the list now
    // holds fewer than n.
    virtual bool Copy(size_t n, ComputerEntry* out) = 0;
};

class SharedListReader : public ComputerListSource {
  public:
    explicit SharedListReader(std::string list_name = kListViewName);
    ~SharedListReader() override;
    SharedListReader(const SharedListReader&) = delete;
    SharedListReader& operator=(const SharedListReader&) = delete;

    // Releases what the last attach held, then opens the mutex (list name +
    // "Mutex") and the list. True when the list could be opened.
    bool Attach() override;
    void Detach();

    bool IsAttached() const override;
    // Under the list's mutex. A count the gateway could not have published
    // (negative, or more entries than the list holds) reads 0.
    int Count() override;
    // Under the list's mutex, separately from Count(), so the count is
    // checked again: the gateway may have shrunk the list in between.
    bool Copy(size_t n, ComputerEntry* out) override;

  private:
    int CountLocked() const;

    std::string m_name;
    std::unique_ptr<platform::SharedMemory> m_view;
    std::unique_ptr<platform::NamedMutex> m_mutex;
};

}  // namespace ov::console
