#include "gateway/net/convert_thread.h"

#include "gateway/gateway_log.h"
#include "platform/dynamic_library.h"
#include "platform/message_box.h"

namespace ov::gateway {

ArpProbe CConvertThread::LoadProbe() {
    // Without the library the thread still runs: our own computer needs no
    // ARP, every other one then fails to convert.
    auto library = std::make_shared<platform::DynamicLibrary>();
    const std::string file = platform::DynamicLibrary::FileName("ovident");
    if (!library->Load("ovident")) {
        LogLine("LoadLibrary(" + file + ") Failed!");
        platform::ShowMessageBox("读库(" + file + ") 失败!", "OV_G",
                                 platform::kMbIconError | platform::kMbServiceNotification);
        return nullptr;
    }
    using GetRemoteMac = int (*)(unsigned, unsigned char*);
    auto fn = library->Function<GetRemoteMac>("GetReMoteIPMAC");
    if (!fn) {
        LogLine(file + " FGetRemoteIPMAC err!");
        platform::ShowMessageBox(file + "版本不对!", "OV_G", platform::kMbIconError);
        return nullptr;
    }
    // The probe holds the library: a probe still under way when the gateway
    // stops keeps its code loaded until it returns.
    return [fn, library](uint32_t address) {
        unsigned char mac[8] = {};
        return fn(address, mac) != 0;
    };
}

bool CConvertThread::OnStart(EventThread& thread) {
    m_thread = &thread;
    ArpProbe probe = m_make_probe ? m_make_probe() : LoadProbe();
    m_queue = std::make_unique<ConversionQueue>(m_list, std::move(probe),
                                                [](const std::string& l) { LogLine(l); });
    return true;
}

void CConvertThread::Request(uint32_t generation, bool hurry) {
    m_thread->AssertOnThread();
    m_queue->Request(generation, hurry);
}

void CConvertThread::OnEnd() {
    if (m_queue)
        m_queue->Stop();
    m_queue.reset();
}

}  // namespace ov::gateway
