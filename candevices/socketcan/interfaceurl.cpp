#include "candevices/socketcan/interfaceurl.h"

#include "common/commonutilities.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

InterfaceUrl InterfaceUrl::parse(const QString& text) {
    InterfaceUrl result;
    result.text = text.trimmed();
    // A kernel interface name: at most 15 characters, no slash or blank.
    static const QRegularExpression kernelName(QStringLiteral("^[A-Za-z0-9_.-]{1,15}$"));
    if (kernelName.match(result.text).hasMatch() && !result.text.contains(QLatin1String("://"))) {
        result.kind = Kind::QtCanBus;
        result.backend = QStringLiteral("socketcan");
        result.interface = result.text;
        return result;
    }
    const QUrl url(result.text, QUrl::StrictMode);
    if (!url.isValid())
        return result;
    const QString path = url.path();
    const QString name = path.startsWith(QLatin1Char('/')) ? path.mid(1) : QString();
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || url.host().isEmpty())
        return result;
    if (url.scheme() == QLatin1String("qtcanbus")) {
        result.kind = Kind::QtCanBus;
        result.backend = url.host();
        result.interface = name;
    } else if (url.scheme() == QLatin1String("socketcand")) {
        // socketcand limits bus names to 16 characters; blanks and brackets would break elements.
        static const QRegularExpression busName(QStringLiteral("^[^\\s<>]{1,16}$"));
        if (!busName.match(name).hasMatch() || url.port() == 0)
            return result;
        result.kind = Kind::Socketcand;
        result.host = url.host();
        result.port = static_cast<quint16>(url.port(kSocketcandDefaultPort));
        result.bus = name;
    }
    return result;
}

QString defaultCanInterface() {
    const QString fromEnvironment = qEnvironmentVariable("TRVAXX_CAN_INTERFACE").trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // A settings object of our own on the host's file: the host's object belongs to its GUI thread.
    const QSettings& host = CommonUtilities::gocSettings();
    const QSettings settings(host.fileName(), host.format());
    const QString fromSettings =
        settings.value(QStringLiteral("plugin_trvaxx/can_interface")).toString().trimmed();
    if (!fromSettings.isEmpty())
        return fromSettings;
    return QStringLiteral("socketcand://127.0.0.1:29536/can0");
}
