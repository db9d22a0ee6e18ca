#include "platform/service.h"
#include "service_testing.h"

#include <cstdarg>
#include <cstdio>

#include "platform/console.h"

// There is no service manager to talk to here: systemd runs "OV_G -run" and
// stops it with SIGTERM. The service switches do nothing and return 0.
namespace ov::platform::service {

void SetHooks(Hooks) {}
void SetServiceNamesForTesting(const std::string&, const std::string&) {}
int RunServiceDispatcher() {
    return 0;
}
int Install() {
    return 0;
}
int Remove() {
    return 0;
}
int Startup() {
    return 0;
}
int EndService() {
    return 0;
}
bool IsServiceInstalled() {
    return false;
}
bool IsWindows9x() {
    return false;
}
bool ReportServiceStatus(uint32_t, uint32_t, uint32_t) {
    return false;
}
void EventLogInfo(const char*, ...) {}
void EventLogError(const char*) {}

void StderrPrint(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n <= 0)
        return;
    size_t size = n < static_cast<int>(sizeof text) ? static_cast<size_t>(n) : sizeof text - 1;
    ErrorOutput(GbkToTerminal(std::string_view(text, size)));
}

}  // namespace ov::platform::service
