// CConvertThread: settles the address of each new or changed announcement,
// asking the identity library's ARP export. The probes run on a few threads
// of their own (ConversionQueue), so that slow ARP never stalls the network
// thread nor this one, and the thread ends at once when told.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "gateway/event_thread.h"
#include "gateway/net/address_conversion.h"

namespace ov::gateway {

class CConvertThread : public ThreadHandler {
  public:
    // make_probe: where the probe comes from instead of the identity
    // library (tests); null for the library.
    explicit CConvertThread(std::shared_ptr<ControlledComputerList> list,
                            std::function<ArpProbe()> make_probe = nullptr)
        : m_list(std::move(list)), m_make_probe(std::move(make_probe)) {}

    bool OnStart(EventThread& thread) override;
    void OnEnd() override;

    // On this thread (the network thread runs it here through RunInLoop):
    // settles the announcement of that generation (one that left the table
    // or changed since is dropped); hurry only moves its waiting conversion
    // to the front.
    void Request(uint32_t generation, bool hurry);

  private:
    ArpProbe LoadProbe();

    EventThread* m_thread = nullptr;
    std::shared_ptr<ControlledComputerList> m_list;
    std::function<ArpProbe()> m_make_probe;
    std::unique_ptr<ConversionQueue> m_queue;
};

}  // namespace ov::gateway
