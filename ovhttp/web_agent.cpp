#include "web_agent.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/bytes.h"
#include "common/content_codec.h"
#include "http_client.h"
#include "platform/clock.h"

namespace ov::http {
namespace {

constexpr std::string_view kMarker = "OV_SUPPORT";
constexpr std::string_view kNotSupported = "Web服务器不支持";
constexpr std::string_view kConnectFailed = "连接失败 ";
constexpr std::string_view kWriteForbidden = "WebAgent服务器禁止写入文件";
constexpr std::string_view kWrongPassword = "密码错误";
constexpr std::string_view kServerError = "WebAgent服务器出错";
constexpr size_t kReplyQuote = 200;
constexpr size_t kSentIdBytes = 12;
constexpr size_t kMaxNameBytes = sizeof(PeerInfo::computerName) - 1;

void SetMessage(char* message, std::string_view text) {
    if (message)
        SetFieldText(message, kMessageSize, text);
}

int8_t WithMessage(char* message, std::string_view text, int8_t result) {
    SetMessage(message, text);
    return result;
}

struct Reply {
    bool fetched = false;
    std::string text;        // up to its first NUL, at most kReplyBufferSize - 1 bytes
    std::string error_text;  // when not fetched
};

Reply FetchReply(const char* url) {
    std::vector<char> buffer(kReplyBufferSize, '\0');
    size_t length = 0;
    HttpFetch fetch;
    Reply reply;
    reply.fetched = fetch.Fetch(url, buffer.data(), buffer.size(), &length) == 0;
    if (reply.fetched)
        reply.text = buffer.data();
    else
        reply.error_text = fetch.ErrorText();
    return reply;
}

// A token counts only after the reply's first character (the status line
// comes first), at its first occurrence.
bool Found(std::string_view reply, std::string_view token) {
    size_t at = reply.find(token);
    return at != std::string_view::npos && at > 0;
}

bool PermissionDenied(std::string_view reply) {
    return Found(reply, "没有权限") || Found(reply, "Permission denied");
}

// The fetch and marker rows every operation starts with. Returns true when
// the reply is worth judging; otherwise *result and the message are set.
bool CommonStart(const char* url, int8_t failed_result, int8_t unsupported_result,
                 std::string_view unsupported_text, char* message, Reply* reply, int8_t* result) {
    *reply = FetchReply(url);
    if (!reply->fetched) {
        SetMessage(message, std::string(kConnectFailed) + reply->error_text);
        *result = failed_result;
        return false;
    }
    if (reply->text.find(kMarker) == std::string::npos) {
        SetMessage(message, std::string(unsupported_text) + reply->text.substr(0, kReplyQuote));
        *result = unsupported_result;
        return false;
    }
    return true;
}

// The start of every operation but ConnectTest.
bool OperationStart(const std::string& url, char* message, Reply* reply, int8_t* result) {
    return CommonStart(url.c_str(), OVHTTP_NO_ANSWER, OVHTTP_REFUSED, kNotSupported, message, reply,
                       result);
}

std::string KeyText(const WebAgentInfo& agent) {
    std::string key = FieldText(agent.keyText, sizeof agent.keyText);
    return key.empty() ? std::string(kDefaultKeyText) : key;
}

// A C string from a caller, read no further than the longest URL we send.
std::string CallerText(const char* text) {
    std::string out;
    if (!text)
        return out;
    while (out.size() <= HttpClient::kMaxUrlLength && text[out.size()] != '\0')
        out.push_back(text[out.size()]);
    return out;
}

std::string LowerCaseSingleBytes(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsGbkLead(c) && i + 1 < out.size()) {
            ++i;  // a double-byte character has no case
        } else if (c >= 'A' && c <= 'Z') {
            out[i] = char(c - 'A' + 'a');
        }
    }
    return out;
}

unsigned HexValue(char c) {
    if (c >= '0' && c <= '9')
        return unsigned(c - '0');
    if (c >= 'a' && c <= 'f')
        return unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return unsigned(c - 'A' + 10);
    return 0;
}

// Leading decimal digits, as atoi reads them, saturating instead of
// overflowing.
uint32_t LeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + unsigned(text[i] - '0');
        if (v > UINT32_MAX)
            return UINT32_MAX;
    }
    return uint32_t(v);
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlank = " \t\r\n";
    size_t b = text.find_first_not_of(kBlank);
    if (b == std::string_view::npos)
        return {};
    size_t e = text.find_last_not_of(kBlank);
    return text.substr(b, e - b + 1);
}

// The value after the first key up to the next next_key, or to the end.
std::string_view ValueAfter(std::string_view text, std::string_view key,
                            std::string_view next_key) {
    size_t at = text.find(key);
    if (at == std::string_view::npos)
        return {};
    size_t begin = at + key.size();
    size_t end = next_key.empty() ? std::string_view::npos : text.find(next_key, begin);
    return text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

// The report time of a 14-digit local stamp, or 0 when it is out of range
// or cannot be held in the record's 32 bits.
int32_t StampTime(std::string_view stamp) {
    auto part = [&](size_t at, size_t n) {
        return at < stamp.size() ? int(LeadingNumber(stamp.substr(at, n))) : 0;
    };
    std::tm t{};
    t.tm_year = part(0, 4) - 1900;
    t.tm_mon = part(4, 2) - 1;
    t.tm_mday = part(6, 2);
    t.tm_hour = part(8, 2);
    t.tm_min = part(10, 2);
    t.tm_sec = part(12, 2);
    t.tm_isdst = -1;
    int year = t.tm_year + 1900;
    if (year < 1970 || year > 2038 || t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 ||
        t.tm_mday > 31)
        return 0;
    std::time_t when = std::mktime(&t);
    if (when == std::time_t(-1) || when < 0 || when > INT32_MAX)
        return 0;
    return int32_t(when);
}

// Fills the fields of a record from a decoded payload; false when the
// payload lacks its time or mode (made with another key, or damaged).
bool ParsePayload(std::string_view text, PeerInfo* record) {
    if (text.find("&time=") == std::string_view::npos ||
        text.find("&internetmode=") == std::string_view::npos)
        return false;
    record->reportTime = StampTime(ValueAfter(text, "&time=", "&internetmode="));
    record->direct = ValueAfter(text, "&internetmode=", "&wanip=") == "direct" ? 1 : 0;
    record->wanAddress = DottedToNumber(Trim(ValueAfter(text, "&wanip=", "&cmdport=")));
    record->cmdPort = LeadingNumber(ValueAfter(text, "&cmdport=", "&computername="));
    // Through a string: an absent name is a view without storage, which
    // memcpy must not be handed.
    const std::string name(CutGbk(ValueAfter(text, "&computername=", {}), kMaxNameBytes));
    SetFieldText(record->computerName, sizeof record->computerName, name);
    return true;
}

enum class BlockResult { kSkipped, kRead, kBroken };

BlockResult ReadBlock(std::string_view block, bool gateways, std::string_view key_text,
                      PeerList* peers) {
    size_t type = block.find("&ovtype=");
    // Only upper case names the kind; "ovg" is someone else's record.
    if (type == std::string_view::npos || block.substr(type + 8, 3) != (gateways ? "OVG" : "OVC"))
        return BlockResult::kSkipped;
    PeerInfo record{};
    size_t content = block.find("&content=");
    size_t id = block.find("&computerid=");
    if (id != std::string_view::npos) {
        size_t begin = id + 12;
        size_t end = content != std::string_view::npos && content >= begin ? content : block.size();
        std::string_view hex = block.substr(begin, end - begin);
        for (size_t i = 0, n = 0; i + 1 < hex.size() && n < sizeof record.computerId; i += 2, ++n)
            record.computerId[n] = uint8_t(HexValue(hex[i]) << 4 | HexValue(hex[i + 1]));
    }
    std::string plain;
    if (content != std::string_view::npos)
        plain = DecodeContent(block.substr(content + 9), key_text);
    if (!ParsePayload(plain, &record))
        return BlockResult::kBroken;
    record.kind = gateways ? 1 : 0;
    record.reserved = 0;
    return AppendPeer(peers, record) ? BlockResult::kRead : BlockResult::kBroken;
}

std::string IdText(const PeerInfo& peer) {
    return HexBytes(peer.computerId, kSentIdBytes);
}

}  // namespace

std::string ReportPayload(const PeerInfo& self) {
    std::string text = "&time=";
    text += TimeStamp(platform::LocalTime(std::time_t(self.reportTime)));
    text += "&internetmode=";
    text += self.direct ? "direct" : "proxy";
    text += "&wanip=" + NumberText(self.wanAddress);
    text += "&cmdport=" + NumberText(self.cmdPort);
    text += "&computername=" + FieldText(self.computerName, sizeof self.computerName);
    return LowerCaseSingleBytes(text);
}

bool AppendPeer(PeerList* list, const PeerInfo& record) {
    if (!list)
        return true;  // nowhere to keep it: read and dropped
    if (list->count < 0 || list->capacity < list->count ||
        (list->records == nullptr) != (list->capacity == 0))
        return false;
    if (list->count == list->capacity) {
        if (list->capacity > INT32_MAX - kPeerListBlock)
            return false;
        int32_t capacity = list->capacity + kPeerListBlock;
        void* grown = std::realloc(list->records, size_t(capacity) * sizeof(PeerInfo));
        if (!grown)
            return false;
        list->records = static_cast<PeerInfo*>(grown);
        list->capacity = capacity;
    }
    list->records[list->count++] = record;
    return true;
}

void FreePeerList(PeerList* list) {
    if (!list)
        return;
    std::free(list->records);
    list->records = nullptr;
    list->count = 0;
    list->capacity = 0;
}

int8_t ReadPeerRecords(std::string_view reply, bool gateways, std::string_view key_text,
                       PeerList* peers, char* message) {
    constexpr std::string_view kBegin = "#contentbegin";
    constexpr std::string_view kEnd = "#end";
    bool any_block = false;
    bool broken = false;
    int read = 0;
    std::string_view rest = reply;
    for (;;) {
        size_t begin = rest.find(kBegin);
        if (begin == std::string_view::npos)
            break;
        any_block = true;
        rest.remove_prefix(begin + kBegin.size());
        size_t end = rest.find(kEnd);
        if (end == std::string_view::npos) {
            // Cut off, most likely at the end of the reply buffer: whatever
            // it holds may be partial, so it is not taken for a record.
            broken = true;
            break;
        }
        BlockResult r = ReadBlock(rest.substr(0, end), gateways, key_text, peers);
        rest.remove_prefix(end + kEnd.size());
        if (r == BlockResult::kBroken)
            broken = true;
        if (r == BlockResult::kRead)
            ++read;
    }
    if (broken)
        return OVHTTP_RECORD_UNREADABLE;
    if (read > 0)
        return OVHTTP_DONE;
    if (!any_block && gateways)
        return WithMessage(message, "OV_G工作不正常或未启动", OVHTTP_NO_GATEWAY);
    return WithMessage(message, "解码失败", OVHTTP_NO_READABLE_RECORD);
}

int8_t ConnectTest(const char* url, char* message) {
    Reply reply;
    int8_t result = 0;
    if (!CommonStart(url, OVHTTP_TEST_NO_ANSWER, OVHTTP_TEST_UNSUPPORTED, "Web服务器不支持 ",
                     message, &reply, &result))
        return result;
    return OVHTTP_TEST_SUPPORTED;
}

int8_t ChangePassword(const WebAgentInfo* agent, const char* new_password, char* message) {
    if (!agent)
        return OVHTTP_UNKNOWN_REPLY;
    std::string url = FieldText(agent->url, sizeof agent->url) + "?functionid=1&submitpassword=" +
                      FieldText(agent->password, sizeof agent->password) +
                      "&newpassword=" + CallerText(new_password) + "&content=";
    Reply reply;
    int8_t result = 0;
    if (!OperationStart(url, message, &reply, &result))
        return result;
    const std::string& r = reply.text;
    if (Found(r, "returncode=22112"))
        return OVHTTP_DONE;
    if (PermissionDenied(r))
        return WithMessage(message, kWriteForbidden, OVHTTP_REFUSED);
    if (Found(r, "returncode=222"))
        return WithMessage(message, kWrongPassword, OVHTTP_WRONG_PASSWORD);
    if (Found(r, "returncode=22111"))
        return WithMessage(message, kServerError, OVHTTP_REFUSED);
    if (Found(r, "returncode=212"))
        return OVHTTP_DONE;
    return OVHTTP_UNKNOWN_REPLY;
}

int8_t UpdateInfo(const WebAgentInfo* agent, PeerInfo* self, PeerList* peers, char* message,
                  bool gateway) {
    if (!agent || !self)
        return OVHTTP_UNKNOWN_REPLY;
    // A gateway reporting as a client (or the other way round) would be
    // filed under the wrong kind by the web agent.
    if (gateway && self->kind == 0)
        return WithMessage(message, "OVG模式错误", OVHTTP_WRONG_KIND);
    if (!gateway && self->kind != 0)
        return WithMessage(message, "OVC模式错误", OVHTTP_WRONG_KIND);

    const std::string key = KeyText(*agent);
    std::string url =
        FieldText(agent->url, sizeof agent->url) + "?funcid=" + (gateway ? "3" : "2") +
        "&pwd=" + FieldText(agent->password, sizeof agent->password) +
        "&newpwd=&computerid=" + IdText(*self) + "&ovtype=" + (gateway ? "OVG" : "OVC") +
        "&content=" + EncodeContent(ReportPayload(*self), key);
    Reply reply;
    int8_t result = 0;
    if (!OperationStart(url, message, &reply, &result))
        return result;
    const std::string& r = reply.text;

    // The web agent tells us the address it saw, whatever else it says.
    size_t wan = r.find("wan=");
    if (wan != std::string::npos && wan > 0) {
        std::string_view rest = std::string_view(r).substr(wan + 4);
        self->wanAddress = DottedToNumber(Trim(rest.substr(0, rest.find("<br>"))));
    }

    if (Found(r, "returncode=22122")) {
        if (gateway) {
            if (self->direct)
                return OVHTTP_DONE;
            return ReadPeerRecords(r, false, key, peers, message);
        }
        SetMessage(message, "更新成功");
        return ReadPeerRecords(r, true, key, peers, message);
    }
    if (PermissionDenied(r))
        return WithMessage(message, kWriteForbidden, OVHTTP_REFUSED);
    if (Found(r, "returncode=222"))
        return WithMessage(message, kWrongPassword, OVHTTP_WRONG_PASSWORD);
    if (Found(r, "returncode=22121"))
        return WithMessage(message, kServerError, OVHTTP_REFUSED);
    return OVHTTP_UNKNOWN_REPLY;
}

namespace {

// computerid names the client, ovgcomputerid the gateway.
int8_t FlagRequest(const WebAgentInfo* agent, int funcid, const PeerInfo& client,
                   const PeerInfo& gateway, char* message) {
    std::string url = FieldText(agent->url, sizeof agent->url) +
                      "?funcid=" + std::to_string(funcid) +
                      "&pwd=" + FieldText(agent->password, sizeof agent->password) +
                      "&newpwd=&computerid=" + IdText(client) +
                      "&ovtype=&ovgcomputerid=" + IdText(gateway) + "&content=";
    Reply reply;
    int8_t result = 0;
    if (!OperationStart(url, message, &reply, &result))
        return result;
    const std::string& r = reply.text;
    if (Found(r, "returncode=22112"))
        return WithMessage(message, "更改成功", OVHTTP_DONE);
    if (PermissionDenied(r))
        return WithMessage(message, kWriteForbidden, OVHTTP_REFUSED);
    if (Found(r, "returncode=222"))
        return WithMessage(message, kWrongPassword, OVHTTP_WRONG_PASSWORD);
    if (Found(r, "returncode=22121"))
        return WithMessage(message, kServerError, OVHTTP_REFUSED);
    if (funcid == 4) {
        if (Found(r, "returncode=wrong ovc msg"))
            return WithMessage(message, "OV_C信息没有找到", OVHTTP_CLIENT_UNKNOWN);
        if (Found(r, "returncode=wrong ovg id"))
            return WithMessage(message, "待清除的OV_C标记的不是本OV_G", OVHTTP_OTHER_GATEWAY);
    }
    return OVHTTP_UNKNOWN_REPLY;
}

}  // namespace

int8_t ConnectOVG(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b, char* message) {
    if (!agent || !a || !b)
        return OVHTTP_UNKNOWN_REPLY;
    return FlagRequest(agent, 5, *a, *b, message);
}

int8_t OVGClearFlag(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b,
                    char* message) {
    if (!agent || !a || !b)
        return OVHTTP_UNKNOWN_REPLY;
    return FlagRequest(agent, 4, *b, *a, message);
}

}  // namespace ov::http
