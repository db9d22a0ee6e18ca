#include "platform/error.h"

namespace ov::platform {

std::string Error::Text() const {
    return "err " + std::to_string(code) + " - " + message;
}

Error Error::From(const std::error_code& ec) {
    if (ec.category() == std::system_category())
        return FromCode(static_cast<uint32_t>(ec.value()));
    return Error{static_cast<uint32_t>(ec.value()), ec.message()};
}

}  // namespace ov::platform
