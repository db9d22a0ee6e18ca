// One HTTP/1.0 GET over a plain blocking socket: the transport of every web
// agent operation. The whole raw response (status line and headers included)
// is collected until the server closes; nothing in it is interpreted here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/blocking_socket.h"

namespace ov::http {

// Result codes of Get, also kept as ErrorCode().
enum HttpError : int {
    kHttpOk = 0,
    kHttpSocketFailed = 1,  // a socket call failed, or the response was too large
    kHttpNoUrl = 2,
    kHttpUrlTooLong = 3,
    kHttpBadScheme = 6,
    kHttpBadHost = 7,  // empty or over-long host, or no address for it
    kHttpBadPort = 8,
    kHttpOutOfMemory = 100,  // only as the result of Get
};

class HttpClient {
  public:
    static constexpr size_t kMaxUrlLength = 4096;
    static constexpr size_t kMaxHostLength = 63;
    static constexpr uint32_t kTimeoutMs = 90000;
    // A web agent's answer is a few kilobytes; anything past this is a broken
    // or hostile server, and reading on would only exhaust our memory.
    static constexpr size_t kMaxResponseSize = 1u << 20;

    HttpClient();
    virtual ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Sends the request and collects the response. 0 on success (OnComplete
    // has run), otherwise an HttpError (OnFailure has run).
    int Get(const char* url);

    int ErrorCode() const { return m_error_code; }
    int SocketError() const { return m_socket_error; }
    const std::string& ErrorMessage() const { return m_error_message; }

    // Tests only: the product always waits the full kTimeoutMs.
    void SetTimeoutsForTesting(uint32_t milliseconds) {
        m_receive_timeout_ms = milliseconds;
        m_send_timeout_ms = milliseconds;
    }

  protected:
    // The response collected so far; the subclass takes it over in the hooks.
    std::string& Response() { return m_response; }
    // Both base hooks release the response.
    virtual void OnFailure();
    virtual void OnComplete();

  private:
    int SplitUrl(std::string_view url);
    int Run();
    // Records a failure; returns its code. Closes the socket if open.
    int Fail(int code, int socket_error, const char* message);
    bool SendAll(std::string_view piece);

    platform::SocketHandle m_socket = platform::kNoSocket;
    uint32_t m_remote_address = 0;  // network byte order
    std::string m_host;             // at most kMaxHostLength characters
    std::string m_request_target;   // "/" and the URL's path
    uint16_t m_port = 80;
    uint32_t m_receive_timeout_ms = kTimeoutMs;
    uint32_t m_send_timeout_ms = kTimeoutMs;
    bool m_sockets_started = false;

    int m_error_code = 0;
    int m_socket_error = 0;
    std::string m_error_message;
    std::string m_response;
};

// The fetch-into-buffer wrapper the operations use.
class HttpFetch : public HttpClient {
  public:
    static constexpr size_t kMaxErrorText = 252;

    // -1 when buffer is null; otherwise the result of Get. On success *length
    // is the full response size and buffer holds its first
    // min(size, capacity - 1) bytes and a NUL.
    int Fetch(const char* url, char* buffer, size_t capacity, size_t* length);

    // "Error: %d, %d, %s" of the last failure (code, socket error, message).
    const std::string& ErrorText() const { return m_error_text; }

  protected:
    void OnFailure() override;
    void OnComplete() override;

  private:
    char* m_buffer = nullptr;
    size_t m_capacity = 0;
    size_t* m_length = nullptr;
    std::string m_error_text;
};

}  // namespace ov::http
