#include "gateway/gateway_log.h"

#include <cstdarg>
#include <cstdio>

#include "common/bytes.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace ov::gateway {

void LogSinks::Debugger(std::string_view text) {
    platform::DebugOutput(text);
}
bool LogSinks::AllocateConsole() {
    return platform::AllocateConsole();
}
void LogSinks::Console(std::string_view text) {
    platform::ConsoleOutput(text);
}

std::string CtimeText(std::time_t t) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm = platform::LocalTime(t);
    char buf[64];
    // The day is padded with a blank, as the C library's ctime does.
    std::snprintf(buf, sizeof buf, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                  kDays[(tm.tm_wday % 7 + 7) % 7], kMonths[(tm.tm_mon % 12 + 12) % 12], tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, 1900 + tm.tm_year);
    return buf;
}

GatewayLog::GatewayLog(std::shared_ptr<LogSinks> sinks, std::function<std::time_t()> clock)
    : m_sinks(std::move(sinks)), m_clock(std::move(clock)) {}

void GatewayLog::SetLogFile(const std::string& name, bool append) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file.Close();
    m_name = name;
    m_append = append;
    if (m_file_output)
        OpenLocked();
}

void GatewayLog::SetLogOutputs(int mask) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_debugger = (mask & 1) != 0;
    if (mask & 2) {
        if (!m_file_output)
            OpenLocked();
    } else {
        m_file.Close();
        m_file_output = false;
    }
    if (mask & 4) {
        if (!m_console_asked) {
            m_console_asked = true;
            m_sinks->AllocateConsole();
        }
        m_console = true;
    } else {
        m_console = false;
    }
}

void GatewayLog::SetLogThreshold(int level) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threshold = level;
}

void GatewayLog::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file.Close();
}

void GatewayLog::OpenLocked() {
    if (m_name.empty()) {
        m_debugger = true;
        m_file_output = false;
        PrintLocked(0, "Error opening log file\n");
        return;
    }
    // The file is taken at the first line written, not here: a process that
    // only controls the gateway ("-startup", "-end") and writes nothing then
    // neither pushes the last log aside nor holds the file that the service
    // it starts is about to open.
    m_file_output = true;
    m_open_pending = true;
}

void GatewayLog::OpenPendingLocked() {
    m_open_pending = false;
    // Refused while another of our processes holds the log: a running
    // gateway's file is then neither renamed nor reopened.
    if (!m_append)
        platform::RenameOver(m_name, m_name + ".bak");
    // Not for everyone: the log names users, addresses and computers.
    if (!m_file.Open(m_name, platform::ExclusiveFile::Mode::OpenAlways,
                     platform::ExclusiveFile::Share::Read, platform::NewFile::OwnerAndGroup)) {
        m_debugger = true;
        m_file_output = false;
        // A level-0 line, as the other messages of the log: shown only below
        // the default threshold.
        if (0 > m_threshold)
            m_sinks->Debugger("Error opening log file " + m_name + "\n");
        return;
    }
    if (m_append)
        m_file.SeekEnd();
    else
        m_file.Truncate();
}

void GatewayLog::LogPrint(int level, const char* format, ...) {
    std::lock_guard<std::mutex> lock(m_mutex);
    va_list args;
    va_start(args, format);
    VPrintLocked(level, format, args);
    va_end(args);
}

void GatewayLog::PrintLocked(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VPrintLocked(level, format, args);
    va_end(args);
}

void GatewayLog::VPrintLocked(int level, const char* format, va_list args) {
    if (level <= m_threshold)
        return;
    std::time_t now = m_clock();
    if (now != m_last_stamp) {
        m_last_stamp = now;
        WriteLocked("\r\n");
        WriteLocked(CtimeText(now));
        WriteLocked("\r\n");
    }
    char buf[kMaxMessage + 1];
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    if (n < 0)
        return;
    size_t size = size_t(n);
    if (size > kMaxMessage)
        size = CutGbk(std::string_view(buf, kMaxMessage), kMaxMessage).size();
    WriteLocked(std::string_view(buf, size));
}

void GatewayLog::WriteLocked(std::string_view text) {
    if (m_file_output && m_open_pending)
        OpenPendingLocked();
    if (m_debugger)
        m_sinks->Debugger(text);
    if (m_console)
        m_sinks->Console(text);
    if (m_file_output && m_file.IsOpen())
        m_file.Write(text.data(), text.size());
}

GatewayLog& TheLog() {
    // Never destroyed: threads that were given up on may still log at exit.
    static GatewayLog* log = new GatewayLog;
    return *log;
}

void LogLine(const std::string& text) {
    TheLog().LogPrint(0, "    %s\r\n", text.c_str());
}

}  // namespace ov::gateway
