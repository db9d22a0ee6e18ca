// OV_G: the gateway. See gateway_app.h for its modes.
#include "gateway/gateway_app.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    return ov::gateway::GatewayMain(ov::platform::CommandLineArguments(argc, argv));
}
