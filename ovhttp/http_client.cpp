#include "http_client.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/files.h"

namespace ov::http {
namespace {

// Windows Sockets are started by the first client alive and stopped by the
// last one; the count is the only state the requests share.
struct SocketUsers {
    std::mutex mutex;
    int count = 0;
    bool started = false;
};

SocketUsers& Users() {
    static SocketUsers users;
    return users;
}

constexpr size_t kReceiveChunk = 1023;

// The length of a C string, or limit + 1 when it is longer than limit;
// never reads past the terminator.
size_t BoundedLength(const char* text, size_t limit) {
    size_t n = 0;
    while (n <= limit && text[n] != '\0') ++n;
    return n;
}

}  // namespace

HttpClient::HttpClient() {
    SocketUsers& users = Users();
    std::lock_guard<std::mutex> lock(users.mutex);
    if (users.count++ == 0)
        users.started = platform::StartSockets();
}

HttpClient::~HttpClient() {
    platform::CloseSocket(m_socket);
    SocketUsers& users = Users();
    std::lock_guard<std::mutex> lock(users.mutex);
    if (--users.count == 0 && users.started) {
        platform::StopSockets();
        users.started = false;
    }
}

void HttpClient::OnFailure() {
    std::string().swap(m_response);
}
void HttpClient::OnComplete() {
    std::string().swap(m_response);
}

int HttpClient::Fail(int code, int socket_error, const char* message) {
    platform::CloseSocket(m_socket);
    m_socket = platform::kNoSocket;
    m_error_code = code;
    m_socket_error = socket_error;
    m_error_message = message;
    OnFailure();
    return code;
}

int HttpClient::Get(const char* url) {
    m_error_code = 0;
    m_socket_error = 0;
    m_error_message.clear();
    m_response.clear();
    if (url == nullptr || url[0] == '\0')
        return Fail(kHttpNoUrl, 0, "Error, url is nothing.");
    size_t length = BoundedLength(url, kMaxUrlLength);
    if (length > kMaxUrlLength)
        return Fail(kHttpUrlTooLong, 0, "Error, url too long.");
    int rc = SplitUrl(std::string_view(url, length));
    if (rc != kHttpOk)
        return rc;
    return Run();
}

int HttpClient::SplitUrl(std::string_view url) {
    // One scan up to the first '/' that is not part of "://": a ':' before
    // "//" ends the scheme, the first other ':' ends the host, that '/' ends
    // the host or port and starts the path.
    constexpr size_t npos = std::string_view::npos;
    size_t host_begin = 0;
    size_t colon = npos;
    size_t slash = npos;
    for (size_t i = 0; i < url.size(); ++i) {
        char c = url[i];
        if (c == ':') {
            if (url.substr(i + 1, 2) == "//") {
                host_begin = i + 3;
                colon = npos;
                i += 2;
            } else if (i + 1 < url.size() && url[i + 1] == '/') {
                return Fail(kHttpBadScheme, 0, "Error, proto parse failed.");
            } else if (colon == npos) {
                colon = i;
            }
        } else if (c == '/') {
            slash = i;
            break;
        }
    }
    size_t end = slash == npos ? url.size() : slash;
    size_t host_end = colon == npos ? end : colon;
    std::string_view host = url.substr(host_begin, host_end - host_begin);
    // Cutting a longer host would send the request to some other machine.
    if (host.empty() || host.size() > kMaxHostLength)
        return Fail(kHttpBadHost, 0, "Error, bad host in URL.");

    m_port = 80;
    if (colon != npos) {
        std::string port_text(url.substr(colon + 1, end - colon - 1));
        if (port_text.empty())
            return Fail(kHttpBadPort, 0, "Error, bad port in URL.");
        // atoi's reading (leading digits, junk reads as 0), without its
        // undefined overflow.
        errno = 0;
        long port = std::strtol(port_text.c_str(), nullptr, 10);
        if (errno == ERANGE || port < 0 || port > 65535)
            return Fail(kHttpBadPort, 0, "Error, bad port in URL.");
        m_port = uint16_t(port);
    }
    m_host.assign(host);
    m_request_target = "/";
    if (slash != npos)
        m_request_target.append(url.substr(slash + 1));
    return kHttpOk;
}

bool HttpClient::SendAll(std::string_view piece) {
    while (!piece.empty()) {
        long n = platform::SendSome(m_socket, piece.data(), piece.size());
        if (n <= 0)
            return false;
        piece.remove_prefix(size_t(n));
    }
    return true;
}

int HttpClient::Run() {
    m_socket = platform::OpenTcpSocket();
    if (m_socket == platform::kNoSocket)
        return Fail(kHttpSocketFailed, platform::LastSocketError(), "Error when socket.");
    if (!platform::SetLingerZero(m_socket))
        return Fail(kHttpSocketFailed, platform::LastSocketError(),
                    "Error when setsockopt(LINGER).");
    if (!platform::SetReceiveTimeout(m_socket, m_receive_timeout_ms))
        return Fail(kHttpSocketFailed, platform::LastSocketError(),
                    "Error when setsockopt(RCVTIME).");
    if (!platform::SetSendTimeout(m_socket, m_send_timeout_ms))
        return Fail(kHttpSocketFailed, platform::LastSocketError(),
                    "Error when setsockopt(SNDTIMEO).");
    if (!platform::BindAny(m_socket))
        return Fail(kHttpSocketFailed, platform::LastSocketError(), "Error when bind socket.");
    int resolver_error = 0;
    if (!platform::ResolveHost(m_host, &m_remote_address, &resolver_error))
        return Fail(kHttpBadHost, resolver_error, "Error when resolve host.");
    if (!platform::PollOnce(m_socket))
        return Fail(kHttpSocketFailed, platform::LastSocketError(), "Error when select.");
    if (!platform::Connect(m_socket, m_remote_address, m_port))
        return Fail(kHttpSocketFailed, platform::LastSocketError(), "Error when connect.");

    const std::string_view pieces[] = {
        "GET ",
        m_request_target,
        " HTTP/1.0\r\n",
        "Accept:text/html\r\n",
        "Accept-Language: en\r\n",
        "Cache-Control: no-cache\r\n",
        "Proxy-Connection: Keep-Alive\r\n",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt; KRV Agent;)\r\n",
        "Host: ",
        m_host,
        "\r\n",
        "\r\n",
    };
    for (std::string_view piece : pieces) {
        // The failed socket is closed at once and never used again: its
        // descriptor may already belong to another thread's file.
        if (!SendAll(piece))
            return Fail(kHttpSocketFailed, platform::LastSocketError(), "Error when send.");
    }

    bool out_of_memory = false;
    char chunk[kReceiveChunk];
    for (;;) {
        long n = platform::ReceiveSome(m_socket, chunk, sizeof chunk);
        if (n == 0)
            break;
        if (n < 0)
            return Fail(kHttpSocketFailed, platform::LastSocketError(), "Error when recieve.");
        if (m_response.size() + size_t(n) > kMaxResponseSize)
            return Fail(kHttpSocketFailed, 0, "Error, response too large.");
        try {
            m_response.append(chunk, size_t(n));
        } catch (const std::bad_alloc&) {
            // What was read so far is kept and handed over.
            m_error_code = kHttpSocketFailed;
            m_socket_error = int(platform::LastErrorCode());
            m_error_message = "Error when memory alloc.";
            out_of_memory = true;
            break;
        }
    }
    platform::CloseSocket(m_socket);
    m_socket = platform::kNoSocket;
    OnComplete();
    return out_of_memory ? kHttpOutOfMemory : kHttpOk;
}

int HttpFetch::Fetch(const char* url, char* buffer, size_t capacity, size_t* length) {
    if (buffer == nullptr)
        return -1;
    m_buffer = buffer;
    m_capacity = capacity;
    m_length = length;
    m_error_text.clear();
    int rc = Get(url);
    if (rc != kHttpOk && m_error_text.empty()) {
        // Reached only when memory ran out: the response was handed over,
        // but the request still failed.
        char text[kMaxErrorText + 1];
        std::snprintf(text, sizeof text, "Error: %d, %d, %s", ErrorCode(), SocketError(),
                      ErrorMessage().c_str());
        m_error_text = text;
    }
    m_buffer = nullptr;
    m_length = nullptr;
    return rc;
}

void HttpFetch::OnFailure() {
    char text[kMaxErrorText + 1];
    std::snprintf(text, sizeof text, "Error: %d, %d, %s", ErrorCode(), SocketError(),
                  ErrorMessage().c_str());
    m_error_text = text;
    HttpClient::OnFailure();
}

void HttpFetch::OnComplete() {
    std::string& response = Response();
    if (m_length)
        *m_length = response.size();
    if (m_buffer && m_capacity > 0) {
        size_t n = response.size() < m_capacity - 1 ? response.size() : m_capacity - 1;
        std::memcpy(m_buffer, response.data(), n);
        m_buffer[n] = '\0';
    }
    HttpClient::OnComplete();
}

}  // namespace ov::http
