#include "gateway/cmd_protocol.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "gateway/gateway_config.h"

namespace ov::gateway {
namespace {

std::string Line(const std::string& text) {
    return "    " + text + "\r\n";
}

// A user name comes from anyone who can reach the port: control bytes in it
// must not forge lines of their own in the log.
std::string Printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

AuthDecision Decide(AuthCode code, const std::string& line) {
    return {code, Line(line)};
}

}  // namespace

FrameAssembler::Result FrameAssembler::Take(const uint8_t* data, size_t size) {
    Result r;
    while (r.used < size) {
        if (m_have_size < 2) {
            if (m_have_size == 0)
                ++m_begun;
            m_size[m_have_size++] = data[r.used++];
            // A size below 2 is the whole frame: the connection goes on.
            if (m_have_size == 2 && DecodeFixed16LE(m_size) < 2)
                m_have_size = 0;
            continue;
        }
        if (!m_have_sign) {
            const uint8_t sign = data[r.used++];
            if (sign != kRequestSign) {
                m_have_size = 0;
                r.kind = Result::BadSign;
                r.sign = sign;
                return r;
            }
            m_have_sign = true;
            continue;
        }
        const size_t n = std::min(size - r.used, AuthRequest::kSize - m_have_request);
        std::memcpy(m_request.bytes + m_have_request, data + r.used, n);
        m_have_request += n;
        r.used += n;
        if (m_have_request == AuthRequest::kSize) {
            r.kind = Result::Request;
            r.request = m_request;
            m_have_size = 0;
            m_have_sign = false;
            m_have_request = 0;
            return r;
        }
    }
    return r;
}

FrameAssembler::Field FrameAssembler::Missing() const {
    if (m_have_size == 0)
        return Field::None;
    if (m_have_size < 2)
        return Field::Size;
    return m_have_sign ? Field::Request : Field::Sign;
}

const char* MissingFieldLine(FrameAssembler::Field field) {
    switch (field) {
        case FrameAssembler::Field::Size:
            return "取长度size失败!";
        case FrameAssembler::Field::Sign:
            return "取标志sign失败!";
        case FrameAssembler::Field::Request:
            return "取鉴别请求失败!";
        case FrameAssembler::Field::None:
            break;
    }
    return "";
}

AuthDecision Authenticate(GatewayConfig& config, const AuthRequest& request) {
    if (config.IdCheck()) {
        config.ReloadTrustedIds();
        const TrustedIdList ids = config.TrustedIds();
        // All 100 bytes count, also those after a NUL.
        const bool trusted = std::any_of(ids.begin(), ids.end(), [&](const TrustedIdRecord& t) {
            return std::memcmp(t.bytes + TrustedIdRecord::kIdOffset, request.ClientId(),
                               AuthRequest::kClientIdSize) == 0;
        });
        static_assert(TrustedIdRecord::kIdSize == AuthRequest::kClientIdSize);
        if (!trusted)
            return Decide(AuthCode::IdRejected, "ID非法!");
    }
    if (!config.ReloadAccounts())
        return {};
    const std::string user = request.UserName();
    const std::string password = request.Password();
    const std::string shown = Printable(user);
    const AccountList accounts = config.Accounts();
    // An account named Guest is an account like any other and comes first.
    const int found = FindAccount(accounts, user);
    if (found >= 0) {
        const AccountRecord& account = accounts[size_t(found)];
        if (!account.Enabled())
            return Decide(AuthCode::AccountLocked, "该帐号被锁:" + shown);
        if (account.Password() == password)
            return Decide(AuthCode::Ok, shown + " 鉴别通过!");
        return Decide(AuthCode::BadPassword, "密码不对!");
    }
    if (config.GuestAllowed() && user == kGuestName) {
        if (password == kGuestPassword)
            return Decide(AuthCode::Ok, shown + " 鉴别通过!");
        return Decide(AuthCode::BadPassword, "密码不对:" + shown);
    }
    return Decide(AuthCode::NoSuchUser, "该用户名不存在:" + shown);
}

}  // namespace ov::gateway
