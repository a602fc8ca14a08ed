#include "common/pluginverification.h"

#include <QList>

namespace PluginVerification {

QString check(const char* text) {
    if (!text)
        return QStringLiteral("no verification text");
    // A verification text is a few short lines; anything long is not one.
    const QByteArray data = QByteArray(text, static_cast<int>(qstrnlen(text, 4096)));
    QByteArray pattern, version, debug, key;
    for (const QByteArray& line : data.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray name = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        if (name == "pattern")
            pattern = value;
        else if (name == "version")
            version = value;
        else if (name == "debug")
            debug = value;
        else if (name == "buildkey")
            key = value;
    }
    if (pattern != PATTERN)
        return QStringLiteral("the verification text has no pattern line");
    const QList<QByteArray> parts = version.split('.');
    bool okMajor = false, okMinor = false;
    const int major = parts.value(0).toInt(&okMajor);
    const int minor = parts.value(1).toInt(&okMinor);
    if (parts.size() != 3 || !okMajor || !okMinor)
        return QStringLiteral("the interface version \"%1\" is malformed").arg(QString::fromLatin1(version));
    if (major != 4 || minor > 8)
        return QStringLiteral("the interface version %1 is not supported (4.0 to 4.8)")
            .arg(QString::fromLatin1(version));
    if (debug != "false")
        return QStringLiteral("the plug-in is a debug build (\"debug=%1\")").arg(QString::fromLatin1(debug));
    if (key != buildKey())
        return QStringLiteral("the build key \"%1\" differs from the host's \"%2\"")
            .arg(QString::fromLatin1(key), QString::fromLatin1(buildKey()));
    return QString();
}

} // namespace PluginVerification
