#include "ovsetup/model/port_check.h"

#include <asio.hpp>

#include "ovsetup/model/setup_texts.h"

namespace ov::setup {

bool ParsePort(const std::string& text, uint32_t* port, std::string* message) {
    size_t begin = text.find_first_not_of(' '), end = text.find_last_not_of(' ');
    const std::string digits =
        begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(digits) > kMaxPort) {
        *message = text::kPortRange;
        return false;
    }
    *port = uint32_t(std::stoul(digits));
    return true;
}

bool PortIsFree(uint32_t port) {
    if (port > kMaxPort)
        return false;
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io);
    asio::error_code ec;
    // No address reuse: a port that a listener holds must refuse the bind.
    acceptor.open(asio::ip::tcp::v4(), ec);
    if (!ec)
        acceptor.bind({asio::ip::address_v4::any(), uint16_t(port)}, ec);
    return !ec;
}

bool AcceptPort(const std::string& text, uint32_t* port, std::string* message) {
    uint32_t value = 0;
    if (!ParsePort(text, &value, message))
        return false;
    if (!PortIsFree(value)) {
        *message = text::kPortInUse;
        return false;
    }
    *port = value;
    return true;
}

}  // namespace ov::setup
