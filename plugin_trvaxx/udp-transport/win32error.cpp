#include "udp-transport/win32error.h"

#include <cstring>

namespace {

std::string describe(const std::string& message, int code) {
    std::string text = message + " " + std::to_string(code);
    if (code != 0)
        text += std::string(" (") + std::strerror(code) + ")";
    return text;
}

} // namespace

Win32error::Win32error(const std::string& message, int code)
    : std::runtime_error(describe(message, code)), m_message(message), m_code(code) {}
