#include "common/login_frame.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"

namespace ov {

std::string AuthRequest::UserName() const {
    return FieldText(reinterpret_cast<const char*>(bytes + kUserOffset), kUserSize);
}

std::string AuthRequest::Password() const {
    return FieldText(reinterpret_cast<const char*>(bytes + kPasswordOffset), kPasswordSize);
}

AuthRequest AuthRequest::Make(const uint8_t client_id[kClientIdSize], std::string_view user,
                              std::string_view password) {
    AuthRequest r;
    std::memcpy(r.bytes + kClientIdOffset, client_id, kClientIdSize);
    // An empty view may hold no pointer.
    if (!user.empty())
        std::memcpy(r.bytes + kUserOffset, user.data(), std::min(user.size(), kUserSize));
    if (!password.empty())
        std::memcpy(r.bytes + kPasswordOffset, password.data(),
                    std::min(password.size(), kPasswordSize));
    return r;
}

std::vector<uint8_t> RequestFrame(const AuthRequest& request) {
    std::vector<uint8_t> frame(kRequestFrameSize);
    EncodeFixed16LE(frame.data(), uint16_t(1 + AuthRequest::kSize));
    frame[2] = kRequestSign;
    std::memcpy(frame.data() + 3, request.bytes, AuthRequest::kSize);
    return frame;
}

std::vector<uint8_t> RequestFrame(const uint8_t client_id[AuthRequest::kClientIdSize],
                                  std::string_view user, std::string_view password) {
    return RequestFrame(AuthRequest::Make(client_id, user, password));
}

std::vector<uint8_t> ShortReply(AuthCode code) {
    std::vector<uint8_t> reply(kShortReplySize);
    EncodeFixed16LE(reply.data(), 3);
    reply[2] = kReplySign;
    EncodeFixed16LE(reply.data() + 3, uint16_t(code));
    return reply;
}

std::vector<uint8_t> ListReply(uint16_t proxy_port, size_t count,
                               const std::function<ComputerEntry(size_t)>& entry_at) {
    const size_t n = std::min(count, kMaxListReplyEntries);
    std::vector<uint8_t> reply(kListReplyHeader + kListRecordSize * n);  // zero-filled
    EncodeFixed16LE(reply.data(), uint16_t(reply.size() - 2));
    reply[2] = kReplySign;
    EncodeFixed16LE(reply.data() + 3, uint16_t(AuthCode::Ok));
    EncodeFixed16LE(reply.data() + 5, proxy_port);
    for (size_t i = 0; i < n; ++i) {
        ComputerEntry e = entry_at(i);
        std::memcpy(reply.data() + kListReplyHeader + kListRecordSize * i, e.bytes,
                    ComputerEntry::kSize);
    }
    return reply;
}

std::optional<size_t> ReplyRest(const uint8_t head[kReplyHeadSize], std::string* error) {
    const size_t size = DecodeFixed16LE(head);
    const uint16_t code = DecodeFixed16LE(head + 3);
    if (head[2] != kReplySign) {
        *error = "the gateway's reply has a wrong sign (" + std::to_string(head[2]) + ")";
        return std::nullopt;
    }
    const bool ok = code == uint16_t(AuthCode::Ok);
    if (ok ? size < 5 || (size - 5) % kListRecordSize != 0 : size != 3) {
        *error = "the gateway's reply has a wrong size (" + std::to_string(size) + " for code " +
                 std::to_string(code) + ")";
        return std::nullopt;
    }
    return size - 3;
}

bool ParseReply(std::string_view bytes, LoginReply* reply, std::string* error) {
    if (bytes.size() < kReplyHeadSize) {
        *error = "the gateway's reply is cut short";
        return false;
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    std::optional<size_t> rest = ReplyRest(p, error);
    if (!rest)
        return false;
    if (bytes.size() != kReplyHeadSize + *rest) {
        *error = "the gateway's reply is cut short";
        return false;
    }
    LoginReply r;
    r.code = DecodeFixed16LE(p + 3);
    if (r.code == uint16_t(AuthCode::Ok)) {
        r.proxy_port = DecodeFixed16LE(p + 5);
        for (size_t at = kListReplyHeader; at + kListRecordSize <= bytes.size();
             at += kListRecordSize) {
            ComputerEntry e;
            std::memcpy(e.bytes, p + at, ComputerEntry::kSize);
            r.computers.push_back(e);
        }
    }
    *reply = std::move(r);
    return true;
}

}  // namespace ov
