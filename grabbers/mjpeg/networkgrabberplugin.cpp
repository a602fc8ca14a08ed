#include "grabbers/mjpeg/networkgrabberplugin.h"

#include "common/commonutilities.h"
#include "grabbers/grabberlog.h"
#include "grabbers/mjpeg/networkgrabber.h"
#include "grabbers/mjpeg/testpatterngrabber.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

QStringList NetworkGrabberPlugin::findDevices() {
    QSettings& settings = CommonUtilities::gocSettings();
    const QVariant value = settings.value(QStringLiteral("plugin_trvaxx/camera_urls"));
    QStringList urls =
        value.typeId() == QMetaType::QStringList
            ? value.toStringList()
            : value.toString().split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    QStringList devices;
    for (const QString& text : urls) {
        const QUrl url(text.trimmed());
        if (url.isValid() && url.scheme() == QLatin1String("http") && !url.host().isEmpty())
            devices << url.toString();
        else
            qCWarning(lcGrabber).noquote() << "Camera URL" << text << "is not an http:// address; skipped";
    }
    if (settings.value(QStringLiteral("plugin_trvaxx/camera_test_pattern"), false).toBool())
        devices << QString::fromLatin1(kTestPattern);
    return devices;
}

QObject* NetworkGrabberPlugin::createGrabber(const QString& device) {
    if (device == QLatin1String(kTestPattern))
        return new TestPatternGrabber;
    const QUrl url(device);
    if (!url.isValid() || url.scheme() != QLatin1String("http"))
        return nullptr;
    return new NetworkGrabber(url);
}
