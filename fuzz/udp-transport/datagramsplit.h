#pragma once
// Fuzz input layout shared by the target and its seed generator: a sequence of datagrams, each
// a little-endian u16 length followed by that many bytes (the last one may be cut short).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzsplit {

constexpr std::size_t kMaxDatagram = 2048;

template <typename Visit> void forEachDatagram(const std::uint8_t* data, std::size_t size, Visit visit) {
    std::size_t i = 0;
    while (i + 2 <= size) {
        std::size_t length = (data[i] | (data[i + 1] << 8)) % (kMaxDatagram + 1);
        i += 2;
        if (length > size - i)
            length = size - i;
        visit(data + i, length);
        i += length;
    }
}

inline void appendDatagram(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& datagram) {
    out.push_back(static_cast<std::uint8_t>(datagram.size()));
    out.push_back(static_cast<std::uint8_t>(datagram.size() >> 8));
    out.insert(out.end(), datagram.begin(), datagram.end());
}

} // namespace fuzzsplit
