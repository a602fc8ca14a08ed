#pragma once
// Fuzz input as a command line: split at NUL and line-feed bytes into at most 64 arguments,
// after the given leading ones (the program name where the parser expects it).

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>

inline QStringList fuzzArguments(const uint8_t* data, size_t size, QStringList arguments = {}) {
    std::string current;
    auto flush = [&] {
        arguments << QString::fromLocal8Bit(current.data(), static_cast<int>(current.size()));
        current.clear();
    };
    for (size_t i = 0; i < size && arguments.size() < 64; ++i) {
        if (data[i] == 0 || data[i] == '\n')
            flush();
        else
            current.push_back(static_cast<char>(data[i]));
    }
    if (!current.empty())
        flush();
    return arguments;
}
