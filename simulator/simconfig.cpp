#include "simulator/simconfig.h"

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

} // namespace trvsim
