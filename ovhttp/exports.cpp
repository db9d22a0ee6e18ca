// The C face of the library. Nothing may escape across it: each export turns
// any failure it did not expect into its "no answer" result.
#include "ovhttp/ovhttp.h"
#include "web_agent.h"

extern "C" {

int8_t OVHTTP_CALL ConnectTest(const char* url, char* message) {
    try {
        return ov::http::ConnectTest(url, message);
    } catch (...) {
        return OVHTTP_TEST_NO_ANSWER;
    }
}

int8_t OVHTTP_CALL ChangePassword(const WebAgentInfo* agent, const char* newPassword,
                                  char* message) {
    try {
        return ov::http::ChangePassword(agent, newPassword, message);
    } catch (...) {
        return OVHTTP_NO_ANSWER;
    }
}

int8_t OVHTTP_CALL OVCUpdateInfo(const WebAgentInfo* agent, PeerInfo* self, PeerList* peers,
                                 char* message) {
    try {
        return ov::http::UpdateInfo(agent, self, peers, message, false);
    } catch (...) {
        return OVHTTP_NO_ANSWER;
    }
}

int8_t OVHTTP_CALL OVGUpdateInfo(const WebAgentInfo* agent, PeerInfo* self, PeerList* peers,
                                 char* message) {
    try {
        return ov::http::UpdateInfo(agent, self, peers, message, true);
    } catch (...) {
        return OVHTTP_NO_ANSWER;
    }
}

int8_t OVHTTP_CALL ConnectOVG(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b,
                              char* message) {
    try {
        return ov::http::ConnectOVG(agent, a, b, message);
    } catch (...) {
        return OVHTTP_NO_ANSWER;
    }
}

int8_t OVHTTP_CALL OVGClearFlag(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b,
                                char* message) {
    try {
        return ov::http::OVGClearFlag(agent, a, b, message);
    } catch (...) {
        return OVHTTP_NO_ANSWER;
    }
}

void OVHTTP_CALL PeerListFree(PeerList* list) {
    try {
        ov::http::FreePeerList(list);
    } catch (...) {
    }
}

}  // extern "C"
