// CConvertThread: settles the address of each new or changed announcement,
// asking the identity library's ARP export. The probes run on a few threads
// of their own (ConversionQueue), so that slow ARP never stalls the network
// thread nor this one, and the thread ends at once when told.
#pragma once

#include <functional>
#include <memory>

#include "gateway/event_thread.h"
#include "gateway/net/address_conversion.h"

namespace ov::gateway {

class CConvertThread : public ThreadHandler {
  public:
    // lparam of ConvertEntry: 1 settles the announcement whose generation is
    // wparam (one that left the table or changed since is dropped); kHurry
    // only moves its waiting conversion to the front; 0 does nothing.
    static constexpr intptr_t kHurry = 2;

    // make_probe: where the probe comes from instead of the identity
    // library (tests); null for the library.
    explicit CConvertThread(std::shared_ptr<ControlledComputerList> list,
                            std::function<ArpProbe()> make_probe = nullptr)
        : m_list(std::move(list)), m_make_probe(std::move(make_probe)) {}

    bool OnStart(EventThread& thread) override;
    void OnMessage(ThreadMessage id, intptr_t wparam, intptr_t lparam) override;
    void OnEnd() override;

  private:
    ArpProbe LoadProbe();

    EventThread* m_thread = nullptr;
    std::shared_ptr<ControlledComputerList> m_list;
    std::function<ArpProbe()> m_make_probe;
    std::unique_ptr<ConversionQueue> m_queue;
};

}  // namespace ov::gateway
