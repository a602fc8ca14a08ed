// The stream encoder the transport tests build their datagrams with is checked by those tests:
// the assembler gives back what it was given, and hand-written datagrams pin the layout.
#include "udp-transport/udpframing.h"

#include <gtest/gtest.h>

using namespace udpframing;

namespace {

std::uint32_t lrcOf(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t value = 0;
    EXPECT_EQ(computeLrc(bytes.data(), static_cast<long long>(bytes.size()), value), 0);
    return value;
}

} // namespace

TEST(Lrc, RejectsEmptyInputAndShortBodiesOnlyApplyTheTail) {
    std::uint32_t value = 0x12345678;
    const std::uint8_t byte = 1;
    EXPECT_EQ(computeLrc(nullptr, 4, value), -1);
    EXPECT_EQ(computeLrc(&byte, 0, value), -1);
    EXPECT_EQ(computeLrc(&byte, -3, value), -1);
    EXPECT_EQ(value, 0x12345678u) << "no value on failure";
    // Tails of two and three bytes only (one byte and one word are pinned below).
    EXPECT_EQ(lrcOf({0x11, 0x22}), 0xAAAA88BBu);
    EXPECT_EQ(lrcOf({0x11, 0x22, 0x33}), 0xAA9988BBu);
}

// Values worked out byte by byte from the definition (the first four words, then every fourth
// word until the last 16 bytes, then every word, then the odd bytes), for lengths that end in each
// of those stretches; bytes (37 i + 11) mod 256.
TEST(Lrc, PinnedValuesForEveryStretchOfTheBody) {
    const std::pair<std::size_t, std::uint32_t> cases[] = {
        {1, 0xAAAAAAA1u},   {4, 0xD0FF9AA1u},  {16, 0x3EB63EA6u}, {17, 0x3EB63EFDu}, {19, 0x3E13BEFDu},
        {20, 0x6C9B3665u},  {21, 0x6C9B368Au}, {35, 0x8ABF1A41u}, {36, 0x7F994B9Du}, {37, 0x7F994BA2u},
        {38, 0x7F992FA2u},  {39, 0x7F102FA2u}, {52, 0xF73AB9B0u}, {53, 0xF73AB93Fu}, {100, 0x8BCDFF49u},
        {131, 0xFF24FB0Eu}, {200, 0xBCA36695u}};
    for (const auto& [length, expected] : cases) {
        std::vector<std::uint8_t> body(length);
        for (std::size_t i = 0; i < length; ++i)
            body[i] = static_cast<std::uint8_t>(37 * i + 11);
        EXPECT_EQ(lrcOf(body), expected) << "length " << length;
    }
}

// The field layout is pinned by the hand-written datagrams of the assembler tests; here only a
// channel header cut short, whose missing bytes read as zero.
TEST(Headers, CutChannelHeaderReadsMissingBytesAsZero) {
    const ChannelHeader c{kStartDelimiter, 0, 0, 2, 5, 0x10000};
    std::uint8_t channel[kChannelHeaderSize] = {};
    c.write(channel);
    const ChannelHeader cut = ChannelHeader::read(channel, 14);
    EXPECT_EQ(cut.currentPart, 2);
    EXPECT_EQ(cut.numberOfParts, 0);
    EXPECT_EQ(cut.offset, 0u);
}
