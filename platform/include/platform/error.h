// Why a call into the system failed: its code and its text, taken together
// at the failure, so the reason survives whatever the caller does next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace ov::platform {

struct Error {
    uint32_t code = 0;    // errno, or GetLastError / a Winsock code on Windows
    std::string message;  // the system's text for it

    // "err %u - %s", the form of every log line and message that gives a reason.
    std::string Text() const;

    // Another program holds the file or lock (an exclusive open elsewhere).
    bool InUse() const;
    // The file, or a directory on its way, does not exist.
    bool NotFound() const;
    // The system ran short of descriptors, handles or memory: a passing
    // state, not a fault of the file.
    bool Shortage() const;

    // The last failure of this thread (errno / GetLastError).
    static Error Last();
    static Error FromCode(uint32_t code);
    // Asio's errors (standalone Asio reports std::error_code): system codes
    // get the same text as Last() would give them.
    static Error From(const std::error_code& ec);
};

// Success, or the Error of a failure.
class Result {
  public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}  // NOLINT: a failure converts

    bool ok() const { return !m_error; }
    explicit operator bool() const { return ok(); }
    // REQUIRES: !ok()
    const Error& error() const { return *m_error; }

  private:
    std::optional<Error> m_error;
};

}  // namespace ov::platform
