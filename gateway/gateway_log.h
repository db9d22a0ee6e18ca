// The gateway's diagnostics: one process-wide log with three outputs (the
// platform's diagnostic sink, a console, the file OV_G.log), a level
// threshold, and a date stamp whenever a message falls into a new second.
#pragma once

#include <cstdarg>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace ov::gateway {

// Where the debugger and console outputs go; replaceable in tests.
class LogSinks {
  public:
    virtual ~LogSinks() = default;
    virtual void Debugger(std::string_view text);
    virtual bool AllocateConsole();
    virtual void Console(std::string_view text);
};

class GatewayLog {
  public:
    // The longest message: longer ones are cut, never overflowed, and never
    // in the middle of a double-byte character.
    static constexpr size_t kMaxMessage = 1023;

    explicit GatewayLog(
        std::shared_ptr<LogSinks> sinks = std::make_shared<LogSinks>(),
        std::function<std::time_t()> clock = [] { return std::time(nullptr); });
    GatewayLog(const GatewayLog&) = delete;
    GatewayLog& operator=(const GatewayLog&) = delete;

    // Closes the file, stores name and append, and reopens the file when the
    // file output is on. The open happens at the first line written after
    // it; a non-append open keeps the previous file as name + ".bak" and
    // starts the log empty.
    void SetLogFile(const std::string& name, bool append);
    // Bit 0 debugger sink, bit 1 file, bit 2 console.
    void SetLogOutputs(int mask);
    void SetLogThreshold(int level);
    // Written only when level > threshold.
    void LogPrint(int level, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));

    void Close();

  private:
    void OpenLocked();
    void OpenPendingLocked();
    void PrintLocked(int level, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));
    void VPrintLocked(int level, const char* format, va_list args);
    void WriteLocked(std::string_view text);

    std::mutex m_mutex;
    std::shared_ptr<LogSinks> m_sinks;
    std::function<std::time_t()> m_clock;
    bool m_debugger = false;
    bool m_file_output = false;
    bool m_console = false;
    bool m_console_asked = false;  // the console is allocated once only
    int m_threshold = 0;
    platform::ExclusiveFile m_file;
    std::string m_name;
    bool m_append = false;
    bool m_open_pending = false;  // the file output waits for its first line
    std::time_t m_last_stamp = 0;
};

// The one log of the process.
GatewayLog& TheLog();
// The routine line: LogPrint(0, "    %s\r\n", text) on TheLog().
void LogLine(const std::string& text);

// ctime's text of a local time: "Sun Dec 21 07:01:43 2002\n".
std::string CtimeText(std::time_t t);

}  // namespace ov::gateway
