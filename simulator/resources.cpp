#include "simulator/resources.h"

#include <QFile>
#include <QString>

#include <mutex>

// Q_INIT_RESOURCE declares the registration functions, which live in the global namespace.
static void registerEmbeddedDescriptions() {
    Q_INIT_RESOURCE(trvaxx_stream_descriptions);
    Q_INIT_RESOURCE(trvaxx_resources);
}

namespace trvsim {

void initSimulatorResources() {
    // The resource objects sit in this static library; calling their registration keeps the
    // linker from dropping them and is harmless when they registered themselves already.
    static std::once_flag once;
    std::call_once(once, registerEmbeddedDescriptions);
}

bool readResource(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    initSimulatorResources();
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot read resource " + path;
        return false;
    }
    const QByteArray content = file.readAll();
    bytes.assign(content.begin(), content.end());
    return true;
}

std::string streamDescriptionPath(int channel, Variant variant) {
    return ":/streamdescription/" + std::to_string(channel) + "_" + variantName(variant) + ".kvd";
}

static std::string parameterPath(const char* block, Variant variant, const FirmwareVersion& version) {
    return std::string(":/paramdescription/") + block + "_" + variantName(variant) + "_" +
           std::to_string(version.major) + "_" + std::to_string(version.minor) + ".kvd";
}

std::string dspParameterDescriptionPath(Variant variant, const FirmwareVersion& version) {
    return parameterPath("DSP_CPAR", variant, version);
}

std::string kpParameterDescriptionPath(Variant variant, const FirmwareVersion& version) {
    return parameterPath("KP_CPAR", variant, version);
}

} // namespace trvsim
