#include "tools/ovconnect/protocol.h"

#include <cstring>

namespace ov::connect {

ClientIdBytes ClientId(const IdValue* id) {
    ClientIdBytes out{};
    if (id)
        std::memcpy(out.data(), id->data(), id->size());
    return out;
}

std::string CheckLogin(std::string_view user, std::string_view password) {
    if (user.empty() || user.size() > AuthRequest::kUserSize)
        return "the user name must have 1 to 50 bytes";
    if (password.size() > AuthRequest::kPasswordSize)
        return "the password must have at most 20 bytes";
    if (user.find('\0') != user.npos || password.find('\0') != password.npos)
        return "user name and password cannot hold a NUL";
    return {};
}

Exit ExitFor(uint16_t code) {
    switch (code) {
        case uint16_t(AuthCode::Ok):
            return kExitOk;
        case uint16_t(AuthCode::IdRejected):
            return kExitIdRejected;
        case uint16_t(AuthCode::NoSuchUser):
            return kExitNoSuchUser;
        case uint16_t(AuthCode::BadPassword):
            return kExitBadPassword;
        case uint16_t(AuthCode::AccountLocked):
            return kExitAccountLocked;
        default:
            return kExitNetwork;
    }
}

std::string MessageFor(uint16_t code, std::string_view user) {
    const std::string u(user);
    switch (code) {
        case uint16_t(AuthCode::Ok):
            return "logged in as " + u;
        case uint16_t(AuthCode::IdRejected):
            return "the gateway does not trust this computer's ID (give --id-file with an ID "
                   "file its administrator trusts)";
        case uint16_t(AuthCode::NoSuchUser):
            return "the gateway has no user " + u;
        case uint16_t(AuthCode::BadPassword):
            return "wrong password for " + u;
        case uint16_t(AuthCode::AccountLocked):
            return "the account " + u + " is switched off";
        default:
            return "the gateway answered with the unknown code " + std::to_string(code);
    }
}

}  // namespace ov::connect
