#include "tools/ovconnect/protocol.h"

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/computer_records.h"

namespace ov::connect {

std::array<uint8_t, kIdSize> ClientId(const IdValue* id) {
    std::array<uint8_t, kIdSize> out{};
    if (id)
        std::memcpy(out.data(), id->data(), id->size());
    return out;
}

std::string CheckLogin(std::string_view user, std::string_view password) {
    if (user.empty() || user.size() > kUserSize)
        return "the user name must have 1 to 50 bytes";
    if (password.size() > kPasswordSize)
        return "the password must have at most 20 bytes";
    if (user.find('\0') != user.npos || password.find('\0') != password.npos)
        return "user name and password cannot hold a NUL";
    return {};
}

std::array<uint8_t, kRequestSize> LoginRequest(const std::array<uint8_t, kIdSize>& id,
                                               std::string_view user, std::string_view password) {
    std::array<uint8_t, kRequestSize> r{};
    EncodeFixed16LE(r.data(), uint16_t(kRequestSize - 2));
    r[2] = kRequestSign;
    std::memcpy(r.data() + 3, id.data(), kIdSize);
    std::memcpy(r.data() + 3 + kIdSize, user.data(), std::min(user.size(), kUserSize));
    std::memcpy(r.data() + 3 + kIdSize + kUserSize, password.data(),
                std::min(password.size(), kPasswordSize));
    return r;
}

std::optional<size_t> ReplyRest(const uint8_t head[kReplyHeadSize], std::string* error) {
    const size_t size = DecodeFixed16LE(head);
    const uint16_t code = DecodeFixed16LE(head + 3);
    if (head[2] != kReplySign) {
        *error = "the gateway's reply has a wrong sign (" + std::to_string(head[2]) + ")";
        return std::nullopt;
    }
    if (code == kAuthOk ? size < 5 || (size - 5) % kRecordSize != 0 : size != 3) {
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
    if (r.code == kAuthOk) {
        r.proxy_port = DecodeFixed16LE(p + 5);
        for (size_t at = 7; at + kRecordSize <= bytes.size(); at += kRecordSize) {
            ComputerEntry e;
            std::memcpy(e.bytes, p + at, ComputerEntry::kSize);
            r.computers.push_back({e.Name(), e.AddressText(), e.Port()});
        }
    }
    *reply = std::move(r);
    return true;
}

Exit ExitFor(uint16_t code) {
    switch (code) {
        case kAuthOk:
            return kExitOk;
        case kIdRejected:
            return kExitIdRejected;
        case kNoSuchUser:
            return kExitNoSuchUser;
        case kBadPassword:
            return kExitBadPassword;
        case kAccountLocked:
            return kExitAccountLocked;
        default:
            return kExitNetwork;
    }
}

std::string MessageFor(uint16_t code, std::string_view user) {
    const std::string u(user);
    switch (code) {
        case kAuthOk:
            return "logged in as " + u;
        case kIdRejected:
            return "the gateway does not trust this computer's ID (give --id-file with an ID "
                   "file its administrator trusts)";
        case kNoSuchUser:
            return "the gateway has no user " + u;
        case kBadPassword:
            return "wrong password for " + u;
        case kAccountLocked:
            return "the account " + u + " is switched off";
        default:
            return "the gateway answered with the unknown code " + std::to_string(code);
    }
}

std::array<uint8_t, kHeaderSize> RelayHeader(std::string_view name) {
    std::array<uint8_t, kHeaderSize> h{};
    std::memcpy(h.data(), name.data(), std::min(name.size(), kHeaderNameSize));
    return h;
}

}  // namespace ov::connect
