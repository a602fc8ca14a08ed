#include "simulator/simconfig.h"

#include <arpa/inet.h>

namespace trvsim {

const char* variantName(Variant variant) {
    switch (variant) {
    case Variant::DI:
        return "DI";
    case Variant::OD:
        return "OD";
    case Variant::LG:
        return "LG";
    }
    return "??";
}

const char* modelName(Model model) {
    return model == Model::TRVADN ? "TRVADN" : "TRVAFN";
}

std::optional<Variant> variantFromName(const std::string& text) {
    for (Variant v : {Variant::DI, Variant::OD, Variant::LG})
        if (text == variantName(v))
            return v;
    return std::nullopt;
}

std::optional<Model> modelFromName(const std::string& text) {
    for (Model m : {Model::TRVADN, Model::TRVAFN})
        if (text == modelName(m))
            return m;
    return std::nullopt;
}

std::string FirmwareVersion::text() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

SimConfig sensorConfig(const SimConfig& config, uint32_t index, uint32_t count) {
    SimConfig c = config;
    if (count <= 1)
        return c;
    in_addr a{};
    if (::inet_pton(AF_INET, config.sourceAddress.c_str(), &a) != 1 || a.s_addr == 0)
        ::inet_pton(AF_INET, "127.0.0.2", &a);
    a.s_addr = htonl(ntohl(a.s_addr) + index);
    char text[INET_ADDRSTRLEN];
    c.sourceAddress = ::inet_ntop(AF_INET, &a, text, sizeof text);
    // The trailing digits count up, keeping their width ("SIM0000001" -> "SIM0000002").
    std::string& serial = c.identity.serialNumber;
    std::size_t digits = serial.size();
    while (digits > 0 && serial[digits - 1] >= '0' && serial[digits - 1] <= '9')
        --digits;
    const std::string tail = serial.substr(digits);
    if (index == 0)
        return c;
    if (tail.empty() || tail.size() > 9) {
        serial = serial.substr(0, 17) + "-" + std::to_string(index + 1);
    } else {
        const std::string next = std::to_string(std::stoul(tail) + index);
        serial = serial.substr(0, digits) +
                 std::string(next.size() < tail.size() ? tail.size() - next.size() : 0, '0') + next;
        serial = serial.substr(0, 20);
    }
    return c;
}

} // namespace trvsim
