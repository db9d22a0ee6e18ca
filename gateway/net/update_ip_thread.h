// CUpDateIPThread: one report of the gateway to one web agent, on a thread
// of its own because the web agent library blocks (up to 90 seconds per
// read). It calls OVGUpdateInfo, a second time at once when the web agent
// told of a new WAN address, posts the result (UpdateResult, result, which)
// to the network thread and ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "gateway/event_thread.h"
#include "ovhttp/ovhttp.h"

namespace ov::gateway {

class GatewayConfig;

// The export a report calls and the release of the list it fills, looked
// up in the web agent library for every report; the functions keep the
// library loaded while they live.
struct UpdateExports {
    std::function<int8_t(const WebAgentInfo*, PeerInfo*, PeerList*, char*)> update;
    std::function<void(PeerList*)> free_list;  // may be empty: then nothing is released
};
// Empty update: the library or the export is missing (after its message box).
using LoadUpdateExports = std::function<UpdateExports()>;

// Loads the web agent library ("ovhttp") by name.
UpdateExports LoadUpdateExportsFromLibrary();

// All a report shares with the gateway: the gateway record (read and its
// WAN address written under the configuration's lock) and the way to the
// network thread. The network thread cuts the link when it gives up on the
// report; from then on nothing the report does reaches the gateway.
class ReportLink {
  public:
    // Hands a result (and which report it is) to the network thread; false
    // when that thread has ended.
    using ResultTarget = std::function<bool(int result, int which)>;

    ReportLink(GatewayConfig& config, ResultTarget network, int which);

    int Which() const { return m_which; }
    // A copy of the gateway record; false once cut.
    bool Record(PeerInfo* out);
    // Stores the WAN address a call ended with, if it differs from the one
    // the call began with, and returns the record's address as it is now
    // (the other report may have changed it meanwhile); `before` once cut.
    uint32_t UpdateWanAddress(uint32_t before, uint32_t after);
    void PostResult(int result);
    // True when the result had already been posted: the network thread
    // then drops that result when it comes.
    bool Cut();

  private:
    std::mutex m_mutex;
    GatewayConfig* m_config;  // null once cut
    ResultTarget m_network;
    int m_which;
    bool m_posted = false;
};

class CUpDateIPThread : public ThreadHandler {
  public:
    static constexpr size_t kMessageSize = 1024;

    CUpDateIPThread(std::shared_ptr<ReportLink> link, const WebAgentInfo& agent,
                    LoadUpdateExports load);

    // The whole report runs here; the thread then ends by itself.
    bool OnStart(EventThread& thread) override;

  private:
    int Report();

    std::shared_ptr<ReportLink> m_link;
    WebAgentInfo m_agent;
    LoadUpdateExports m_load;
};

}  // namespace ov::gateway
