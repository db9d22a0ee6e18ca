// CConvertThread: settles the address of each new or changed announcement,
// asking the identity library's ARP export, on a thread of its own so that
// the slow probes never stall the network thread.
#pragma once

#include "gateway/event_thread.h"
#include "gateway/net/address_conversion.h"
#include "platform/dynamic_library.h"

namespace ov::gateway {

class CConvertThread : public EventThread {
public:
    explicit CConvertThread(ControlledComputerList& list) : EventThread("convert"), m_list(list) {}
    ~CConvertThread() override { Join(); }

protected:
    bool OnStart() override;
    void OnMessage(ThreadMessage id, intptr_t wparam, intptr_t lparam) override;
    void OnEnd() override { m_library.Unload(); }

private:
    ControlledComputerList& m_list;
    platform::DynamicLibrary m_library;
    ArpProbe m_probe;
};

}  // namespace ov::gateway
