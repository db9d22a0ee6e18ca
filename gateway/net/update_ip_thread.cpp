#include "gateway/net/update_ip_thread.h"

#include "gateway/gateway_config.h"
#include "platform/dynamic_library.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace ov::gateway {

UpdateExports LoadUpdateExportsFromLibrary() {
    auto library = std::make_shared<platform::DynamicLibrary>();
    const std::string file = platform::DynamicLibrary::FileName("ovhttp");
    const unsigned flags = platform::kMbIconError | platform::kMbServiceNotification;
    if (!library->Load("ovhttp")) {
        platform::ShowMessageBox(file + " not found", "OV_G", flags);
        return {};
    }
    using UpdateFn = int8_t(OVHTTP_CALL*)(const WebAgentInfo*, PeerInfo*, PeerList*, char*);
    using FreeFn = void(OVHTTP_CALL*)(PeerList*);
    auto update = library->Function<UpdateFn>("OVGUpdateInfo");
    if (!update) {
        platform::ShowMessageBox("not find the OVGUpdateInfo in " + file, "OV_G", flags);
        return {};
    }
    UpdateExports api;
    api.update = [update, library](const WebAgentInfo* a, PeerInfo* p, PeerList* l, char* m) {
        return update(a, p, l, m);
    };
    // A library without its release function keeps what it appended: memory
    // of another module is never freed here.
    if (auto release = library->Function<FreeFn>("PeerListFree"))
        api.free_list = [release, library](PeerList* l) { release(l); };
    return api;
}

ReportLink::ReportLink(GatewayConfig& config, ResultTarget network, int which)
    : m_config(&config), m_network(std::move(network)), m_which(which) {}

bool ReportLink::Record(PeerInfo* out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_config)
        return false;
    *out = m_config->OwnRecord();
    return true;
}

uint32_t ReportLink::UpdateWanAddress(uint32_t before, uint32_t after) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_config)
        return before;
    if (after != before)
        m_config->SetWanAddress(after);
    return m_config->OwnRecord().wanAddress;
}

void ReportLink::PostResult(int result) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_config || !m_network)
        return;
    m_posted = m_network(int(uint8_t(result)), m_which);
}

bool ReportLink::Cut() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = nullptr;
    m_network = nullptr;
    return m_posted;
}

CUpDateIPThread::CUpDateIPThread(std::shared_ptr<ReportLink> link, const WebAgentInfo& agent,
                                 LoadUpdateExports load)
    : m_link(std::move(link)), m_agent(agent), m_load(std::move(load)) {}

bool CUpDateIPThread::OnStart(EventThread& thread) {
    platform::LowerThisThreadPriority(platform::ThreadPriority::Lowest);
    m_link->PostResult(Report());
    thread.quit();
    return true;
}

int CUpDateIPThread::Report() {
    char message[kMessageSize] = {};
    UpdateExports api = m_load ? m_load() : LoadUpdateExportsFromLibrary();
    if (!api.update)
        return 0;
    // The records the web agent hands back are not used; the list only has
    // to be released.
    PeerList peers{};
    int result = 0;
    for (int call = 0; call < 2; ++call) {
        PeerInfo self;
        if (!m_link->Record(&self))
            break;
        const uint32_t before = self.wanAddress;
        result = api.update(&m_agent, &self, &peers, message);
        // The address a web agent tells is kept whatever the result; a new
        // one, learnt by this call or meanwhile by the other report, is sent
        // again at once after a good report.
        const uint32_t now = m_link->UpdateWanAddress(before, self.wanAddress);
        if (result != 1 || now == before)
            break;
    }
    if (api.free_list)
        api.free_list(&peers);
    return result;
}

}  // namespace ov::gateway
