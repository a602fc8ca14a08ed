#pragma once
// Socket failure of the UDP transport: a message and the operating-system error code (errno).
// The class keeps its historic name; on POSIX it carries errno.

#include <stdexcept>
#include <string>

class Win32error : public std::runtime_error {
public:
    Win32error(const std::string& message, int code);

    int code() const { return m_code; }
    const std::string& message() const { return m_message; }

private:
    std::string m_message;
    int m_code;
};
