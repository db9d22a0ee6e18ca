#include "gateway/net/convert_thread.h"

#include "gateway/gateway_log.h"
#include "platform/message_box.h"

namespace ov::gateway {

bool CConvertThread::OnStart() {
    // Without the library the thread still runs: our own computer needs no
    // ARP, every other one then fails to convert.
    if (!m_library.Load("ovident")) {
        LogLine("LoadLibrary(ovident.dll) Failed!");
        platform::ShowMessageBox("读库(ovident.dll) 失败!", "OV_G",
                                 platform::kMbIconError | platform::kMbServiceNotification);
        return true;
    }
    using GetRemoteMac = int (*)(unsigned, unsigned char*);
    auto fn = m_library.Function<GetRemoteMac>("GetReMoteIPMAC");
    if (!fn) {
        LogLine("ovident.dll FGetRemoteIPMAC err!");
        platform::ShowMessageBox("ovident.dll版本不对!", "OV_G", platform::kMbIconError);
        return true;
    }
    m_probe = [fn](uint32_t address) {
        unsigned char mac[8] = {};
        return fn(address, mac) != 0;
    };
    return true;
}

void CConvertThread::OnMessage(ThreadMessage id, intptr_t wparam, intptr_t lparam) {
    if (id != ThreadMessage::ConvertEntry) return;
    OnExistData(m_list, int(wparam), int(lparam), m_probe, [](const std::string& l) { LogLine(l); });
}

}  // namespace ov::gateway
