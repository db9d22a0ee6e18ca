#include "http_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_raw_server.h"

namespace ov::http {
namespace {

using ov::testing::RawServer;

std::string ExpectedHead(const std::string& target, const std::string& host) {
    return "GET " + target +
           " HTTP/1.0\r\n"
           "Accept:text/html\r\n"
           "Accept-Language: en\r\n"
           "Cache-Control: no-cache\r\n"
           "Proxy-Connection: Keep-Alive\r\n"
           "User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt; KRV Agent;)\r\n"
           "Host: " +
           host + "\r\n\r\n";
}

TEST(HttpClientTest, SendsTheFixedHeadForEveryUrlShape) {
    struct Case {
        std::string url_format;  // %P is the server's port
        std::string target;
        std::string host;
    };
    const Case cases[] = {
        {"http://127.0.0.1:%P/agent/ov.php?funcid=3&pwd=a b", "/agent/ov.php?funcid=3&pwd=a b",
         "127.0.0.1"},
        {"127.0.0.1:%P", "/", "127.0.0.1"},
        {"http://127.0.0.1:%P", "/", "127.0.0.1"},
        {"127.0.0.1:%P/", "/", "127.0.0.1"},
        // The scan ends at the first plain '/': what follows, "://" and ':'
        // included, is path.
        {"http://127.0.0.1:%P/x?back=http://other:1/y", "/x?back=http://other:1/y", "127.0.0.1"},
        {"localhost:%P/p", "/p", "localhost"},
    };
    for (const Case& c : cases) {
        RawServer server("HTTP/1.0 200 OK\r\n\r\nbody");
        std::string url = c.url_format;
        url.replace(url.find("%P"), 2, std::to_string(server.Port()));
        HttpFetch fetch;
        char buffer[100] = {};
        size_t length = 0;
        ASSERT_EQ(fetch.Fetch(url.c_str(), buffer, sizeof buffer, &length), 0)
            << url << ": " << fetch.ErrorText();
        EXPECT_EQ(server.Request(), ExpectedHead(c.target, c.host)) << url;
        EXPECT_STREQ(buffer, "HTTP/1.0 200 OK\r\n\r\nbody");
        EXPECT_EQ(length, 23u);
    }
}

TEST(HttpClientTest, UrlWithoutPortGoesToPort80) {
    if (!RawServer::CanListenOn(80))
        GTEST_SKIP() << "cannot listen on 127.0.0.1:80 here";
    RawServer server("HTTP/1.0 200 OK\r\n\r\n", RawServer::Closing::AfterReply, 80);
    HttpClient client;
    EXPECT_EQ(client.Get("127.0.0.1"), 0) << client.ErrorMessage();
    EXPECT_EQ(server.Request(), ExpectedHead("/", "127.0.0.1"));
}

TEST(HttpClientTest, RefusesBadUrlsWithTheirCodes) {
    struct Case {
        const char* url;
        int code;
        const char* message;
    };
    const std::string long_host(HttpClient::kMaxHostLength + 1, 'h');
    const std::string too_long = "127.0.0.1/" + std::string(HttpClient::kMaxUrlLength - 9, 'a');
    const std::string host_64 = "http://" + long_host + "/x";
    const Case cases[] = {
        {nullptr, 2, "Error, url is nothing."},
        {"", 2, "Error, url is nothing."},
        {too_long.c_str(), 3, "Error, url too long."},
        {"http:/x", 6, "Error, proto parse failed."},
        {"http:/", 6, "Error, proto parse failed."},
        {"127.0.0.1:/x", 6, "Error, proto parse failed."},
        {"http://", 7, "Error, bad host in URL."},
        {"http://:8080/x", 7, "Error, bad host in URL."},
        {"/path", 7, "Error, bad host in URL."},
        {host_64.c_str(), 7, "Error, bad host in URL."},
        {"127.0.0.1:99999/x", 8, "Error, bad port in URL."},
        {"http://127.0.0.1:", 8, "Error, bad port in URL."},
        {"127.0.0.1:/", 6, "Error, proto parse failed."},
        {"127.0.0.1:-1", 8, "Error, bad port in URL."},
        {"127.0.0.1:99999999999999999999", 8, "Error, bad port in URL."},
    };
    for (const Case& c : cases) {
        HttpFetch fetch;
        char buffer[16] = "untouched";
        EXPECT_EQ(fetch.Fetch(c.url, buffer, sizeof buffer, nullptr), c.code) << c.url;
        EXPECT_EQ(fetch.ErrorMessage(), c.message) << c.url;
        EXPECT_EQ(fetch.ErrorText(),
                  "Error: " + std::to_string(c.code) + ", 0, " + std::string(c.message));
        EXPECT_STREQ(buffer, "untouched");
    }
}

TEST(HttpClientTest, LongestUrlAndUnreachableHostsFailLater) {
    // Exactly 4096 characters is still a URL: it gets as far as connecting.
    const std::string port = std::to_string(RawServer::ClosedPort());
    std::string longest = "127.0.0.1:" + port + "/";
    longest += std::string(HttpClient::kMaxUrlLength - longest.size(), 'a');
    ASSERT_EQ(longest.size(), HttpClient::kMaxUrlLength);
    HttpClient refused;
    EXPECT_EQ(refused.Get(longest.c_str()), 1);
    EXPECT_EQ(refused.ErrorMessage(), "Error when connect.");
    EXPECT_NE(refused.SocketError(), 0);

    HttpClient unknown;
    EXPECT_EQ(unknown.Get("http://no-such-host.invalid/x"), 7);
    EXPECT_EQ(unknown.ErrorMessage(), "Error when resolve host.");
}

TEST(HttpClientTest, FetchCutsTheReplyToTheBufferButReportsItsLength) {
    std::string reply(9000, 'r');
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = char('a' + i % 26);
    RawServer server(reply);
    std::vector<char> buffer(8000, 'x');
    size_t length = 0;
    HttpFetch fetch;
    ASSERT_EQ(fetch.Fetch(server.Url().c_str(), buffer.data(), buffer.size(), &length), 0);
    EXPECT_EQ(length, 9000u);
    EXPECT_EQ(std::string(buffer.data(), 7999), reply.substr(0, 7999));
    EXPECT_EQ(buffer[7999], '\0');

    // The caller's buffer is required; nothing is sent without one.
    HttpFetch no_buffer;
    EXPECT_EQ(no_buffer.Fetch(server.Url().c_str(), nullptr, 10, &length), -1);
}

TEST(HttpClientTest, ServerThatNeverClosesFailsAtTheReceiveTimeout) {
    RawServer server("HTTP/1.0 200 OK\r\n\r\nOV_SUPPORT", RawServer::Closing::Never);
    HttpFetch fetch;
    fetch.SetTimeoutsForTesting(300);
    char buffer[64] = "untouched";
    size_t length = 7;
    EXPECT_EQ(fetch.Fetch(server.Url().c_str(), buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(fetch.ErrorMessage(), "Error when recieve.");
    EXPECT_NE(fetch.SocketError(), 0);
    EXPECT_EQ(fetch.ErrorText().rfind("Error: 1, ", 0), 0u) << fetch.ErrorText();
    // What came before the silence is not handed over as a reply.
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(length, 7u);
}

TEST(HttpClientTest, ResponseIsBoundedAtOneMebibyte) {
    {
        RawServer server(std::string(HttpClient::kMaxResponseSize, 'z'));
        HttpFetch fetch;
        char buffer[4];
        size_t length = 0;
        EXPECT_EQ(fetch.Fetch(server.Url().c_str(), buffer, sizeof buffer, &length), 0);
        EXPECT_EQ(length, HttpClient::kMaxResponseSize);
    }
    {
        RawServer server(std::string(HttpClient::kMaxResponseSize + 1, 'z'));
        HttpFetch fetch;
        char buffer[4] = "abc";
        size_t length = 0;
        EXPECT_EQ(fetch.Fetch(server.Url().c_str(), buffer, sizeof buffer, &length), 1);
        EXPECT_EQ(fetch.ErrorText(), "Error: 1, 0, Error, response too large.");
        EXPECT_STREQ(buffer, "abc");
    }
}

}  // namespace
}  // namespace ov::http
