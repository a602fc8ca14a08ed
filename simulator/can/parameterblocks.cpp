#include "simulator/can/parameterblocks.h"

#include "simulator/resources.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace trvsim {

namespace {
void putBig32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
uint32_t big32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
} // namespace

uint32_t crc32Of(const uint8_t* data, std::size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) { // zlib takes uInt lengths
        const uInt n = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = crc32(crc, data, n);
        data += n;
        size -= n;
    }
    return static_cast<uint32_t>(crc);
}

std::vector<uint8_t> makeBlockImage(const std::string& tag, const std::string& name,
                                    const std::vector<uint8_t>& body) {
    std::vector<uint8_t> image(blockheader::kSize, 0);
    std::memcpy(image.data(), tag.data(), std::min<std::size_t>(tag.size(), 4));
    putBig32(&image[4], blockheader::kSize);
    const std::string text = name + "01.01.2026";
    std::fill(image.begin() + 9, image.begin() + 32, ' ');
    std::memcpy(&image[9], text.data(), std::min<std::size_t>(text.size(), 22));
    image[9 + std::min<std::size_t>(text.size(), 22)] = 0;
    putBig32(&image[32], blockheader::kSize);
    putBig32(&image[36], static_cast<uint32_t>(body.size() + blockheader::kSize));
    std::memcpy(&image[40], "00:00:00.00", 11);
    std::memcpy(&image[51], "0000", 4);
    image.insert(image.end(), body.begin(), body.end());
    putBig32(&image[blockheader::kBodyCrcOffset], crc32Of(body.data(), body.size()));
    putBig32(&image[blockheader::kHeaderCrcOffset], crc32Of(image.data(), blockheader::kHeaderCrcOffset));
    return image;
}

std::string checkBlockImage(const std::vector<uint8_t>& image, std::size_t bodySize) {
    if (image.size() < blockheader::kSize)
        return "shorter than its header";
    const uint8_t* h = image.data();
    if (big32(h + 4) != blockheader::kSize || big32(h + 32) != blockheader::kSize)
        return "header length or body start is not 64";
    if (big32(h + 36) != image.size())
        return "total length " + std::to_string(big32(h + 36)) + " differs from the " +
               std::to_string(image.size()) + " bytes received";
    if (image.size() - blockheader::kSize != bodySize)
        return "body of " + std::to_string(image.size() - blockheader::kSize) +
               " bytes does not fit the block's " + std::to_string(bodySize) + " bytes";
    if (crc32Of(h + blockheader::kSize, image.size() - blockheader::kSize) !=
        big32(h + blockheader::kBodyCrcOffset))
        return "body CRC-32 wrong";
    if (crc32Of(h, blockheader::kHeaderCrcOffset) != big32(h + blockheader::kHeaderCrcOffset))
        return "header CRC-32 wrong";
    return std::string();
}

namespace {
// The parsed layouts by variant and version, shared by every node of the process: a restart or
// a second sensor copies the parsed trees instead of parsing the descriptions again. At most one
// entry per description pair the resources hold.
bool layoutFor(const SensorIdentity& identity, ParameterState& out) {
    static std::mutex mutex;
    static std::map<std::string, ParameterState> layouts;
    const std::string key = dspParameterDescriptionPath(identity.variant, identity.version);
    std::lock_guard<std::mutex> lock(mutex);
    auto it = layouts.find(key);
    if (it == layouts.end()) {
        ParameterState state;
        if (!state.load(identity, ParameterValues())) {
            out = state;
            return false;
        }
        it = layouts.emplace(key, std::move(state)).first;
    }
    out = it->second;
    return true;
}
} // namespace

bool ParameterBlocks::load(const SensorIdentity& identity, const ParameterValues& values) {
    if (!layoutFor(identity, m_state))
        return false;
    m_state.setValues(values);
    m_dspBody = m_state.dspBlock().data();
    m_kpImage = makeBlockImage("KP__", "KP_CPAR", m_state.kpBlock().data());
    return true;
}

bool ParameterBlocks::read(uint64_t address, std::size_t size, std::vector<uint8_t>& out) const {
    // One region per block: the KP image, and the DSP size word followed by its body.
    std::vector<uint8_t> dspRegion;
    const std::vector<uint8_t>* region = nullptr;
    uint64_t base = 0;
    if (address >= kKpAddress && address < kKpAddress + m_kpImage.size()) {
        region = &m_kpImage;
        base = kKpAddress;
    } else if (address >= kDspSizeAddress && address < kDspAddress + m_dspBody.size()) {
        const uint32_t n = static_cast<uint32_t>(m_dspBody.size());
        dspRegion = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
        dspRegion.insert(dspRegion.end(), m_dspBody.begin(), m_dspBody.end());
        region = &dspRegion;
        base = kDspSizeAddress;
    } else {
        return false;
    }
    const uint64_t offset = address - base;
    if (size == 0 || size > region->size() - offset)
        return false;
    out.assign(region->begin() + static_cast<std::ptrdiff_t>(offset),
               region->begin() + static_cast<std::ptrdiff_t>(offset + size));
    return true;
}

void ParameterBlocks::replaceDsp(const std::vector<uint8_t>& image) {
    m_dspBody.assign(image.begin() + blockheader::kSize, image.end());
}

void ParameterBlocks::replaceKp(const std::vector<uint8_t>& image) {
    m_kpImage = image;
}

ParameterValues ParameterBlocks::values() const {
    DescribedBlock dsp = m_state.dspBlock();
    DescribedBlock kp = m_state.kpBlock();
    dsp.data() = m_dspBody;
    kp.data().assign(m_kpImage.begin() + blockheader::kSize, m_kpImage.end());
    ParameterValues out = dsp.readAll();
    for (auto& [name, value] : kp.readAll())
        out[name] = std::move(value);
    out.erase("BlockIdName");
    out.erase("BlockVersion");
    return out;
}

} // namespace trvsim
