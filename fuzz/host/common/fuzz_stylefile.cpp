// Style files are user files; the plug-in verification text comes from any library in the plug-in
// folders. Neither may crash the host.
#include "common/pluginverification.h"
#include "common/styleproxy.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("fuzz.style"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    StyleProxy::loadStyleFile(path);
    StyleProxy::getProperty("cameraColor");
    StyleProxy::resetToDefaults();

    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<int>(size)); // NUL-terminated copy
    PluginVerification::check(text.constData());
    return 0;
}
