#include "common/styleproxy.h"

#include "common/logentry.h"

#include <QColor>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>
#include <mutex>

namespace {
struct Style {
    std::mutex mutex;
    QHash<QString, QVariant> values;
    QSet<QString> warned;
};

QHash<QString, QVariant> defaults() {
    return {
        // Forms
        {QStringLiteral("ipInputLength"), 150},
        {QStringLiteral("overlayWindowContent"),
         QStringLiteral("QWidget { font-size: 10pt; } QLabel { color: #d7dde4; }")},
        {QStringLiteral("accentColor"), QColor(QStringLiteral("#2f8fdd"))},
        {QStringLiteral("windowBackground"), QColor(QStringLiteral("#1e2328"))},
        {QStringLiteral("panelBackground"), QColor(QStringLiteral("#262c33"))},
        {QStringLiteral("textColor"), QColor(QStringLiteral("#d7dde4"))},
        {QStringLiteral("mutedTextColor"), QColor(QStringLiteral("#8b96a3"))},
        {QStringLiteral("infoColor"), QColor(QStringLiteral("#2f8fdd"))},
        {QStringLiteral("warningColor"), QColor(QStringLiteral("#e0a526"))},
        {QStringLiteral("errorColor"), QColor(QStringLiteral("#e05252"))},
        {QStringLiteral("successColor"), QColor(QStringLiteral("#3fb27f"))},
        // 2D view: the magnifier's centre cross per pane and its frame
        {QStringLiteral("crossDistanceColor"), QColor(Qt::white)},
        {QStringLiteral("crossAmplitudeColor"), QColor(Qt::red)},
        {QStringLiteral("crossConfidanceColor"), QColor(Qt::blue)},
        {QStringLiteral("smallFrameColor"), QColor(QStringLiteral("#505a66"))},
        {QStringLiteral("strokeFrameColor"), QColor(QStringLiteral("#0b0d10"))},
        {QStringLiteral("beginFrameColor"), QColor(QStringLiteral("#3a4450"))},
        {QStringLiteral("endFrameColor"), QColor(QStringLiteral("#1a1f25"))},
        // 3D scene
        {QStringLiteral("sceneFont"), QStringLiteral("DejaVu Sans")},
        {QStringLiteral("sceneBackground"), QColor(QStringLiteral("#15191d"))},
        {QStringLiteral("tooltipFontColor"), QColor(QStringLiteral("#f0f0f0"))},
        {QStringLiteral("cameraColor"), QColor(QStringLiteral("#c8c8c8"))},
        {QStringLiteral("planeColor"), QColor(80, 120, 160, 90)},
        {QStringLiteral("lightingColor"), QColor(255, 230, 120, 60)},
        {QStringLiteral("objectColor"), QColor(QStringLiteral("#44c98e"))},
        {QStringLiteral("lineColor"), QColor(QStringLiteral("#f2b632"))},
        {QStringLiteral("roiColor"), QColor(QStringLiteral("#2f8fdd"))},
        {QStringLiteral("warningZoneColor"), QColor(240, 190, 40, 110)},
        {QStringLiteral("crashZoneColor"), QColor(224, 82, 82, 130)},
        // 3D scene objects: detected and retro-reflector objects, lines, collision avoidance,
        // regions of interest
        {QStringLiteral("objectCrashedColor"), QColor(QStringLiteral("#ff3030"))},
        {QStringLiteral("objectSelectedColor"), QColor(QStringLiteral("#7ee0b0"))},
        {QStringLiteral("objectMouseOverColor"), QColor(QStringLiteral("#5fd39a"))},
        {QStringLiteral("objectVectorColor"), QColor(QStringLiteral("#b4f0d2"))},
        {QStringLiteral("retroColor"), QColor(QStringLiteral("#c060e0"))},
        {QStringLiteral("retroSelectedColor"), QColor(QStringLiteral("#e0a0f4"))},
        {QStringLiteral("retroMouseOverColor"), QColor(QStringLiteral("#d080ec"))},
        {QStringLiteral("retroVectorColor"), QColor(QStringLiteral("#f0d0fa"))},
        {QStringLiteral("lineSelectedColor"), QColor(QStringLiteral("#ffd070"))},
        {QStringLiteral("lineMouseOverColor"), QColor(QStringLiteral("#f0bc48"))},
        {QStringLiteral("lineLabelColor"), QColor(QStringLiteral("#fff2cc"))},
        {QStringLiteral("lineVectorColor"), QColor(QStringLiteral("#ff8c1a"))},
        {QStringLiteral("vehicleColor"), QColor(90, 150, 230, 150)},
        {QStringLiteral("projectedVehicleColor"), QColor(90, 150, 230, 60)},
        {QStringLiteral("zoneColor"), QColor(240, 140, 40, 70)},
        {QStringLiteral("fontColor"), QColor(QStringLiteral("#e8ecf0"))},
        // Joint view: the overlay's ground grid and field of view; the windrow cross-section
        {QStringLiteral("jointGridColor"), QColor(255, 255, 255, 90)},
        {QStringLiteral("jointFovColor"), QColor(QStringLiteral("#ffdc00"))},
        {QStringLiteral("backgroundColor"), QColor(QStringLiteral("#1e2228"))},
        {QStringLiteral("borderColor"), QColor(QStringLiteral("#d9952b"))},
        {QStringLiteral("borderWidth"), 2.0},
        {QStringLiteral("groundColor"), QColor(QStringLiteral("#6e5a3c"))},
    };
}

Style& style() {
    static Style s{{}, defaults(), {}};
    return s;
}

// A style file value: colours as #rgb, #rrggbb or #aarrggbb, integers, numbers, else text. A
// quoted value is always text.
QVariant parseValue(const QString& raw) {
    const QString text = raw.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.mid(1, text.size() - 2);
    static const QRegularExpression colour(
        QStringLiteral("^#([0-9a-fA-F]{3}|[0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
    if (colour.match(text).hasMatch())
        return QColor(text);
    bool ok = false;
    const int i = text.toInt(&ok);
    if (ok)
        return i;
    const double d = text.toDouble(&ok);
    if (ok)
        return d;
    return text;
}
} // namespace

QVariant StyleProxy::getProperty(const char* name) {
    Style& s = style();
    const QString key = QString::fromLatin1(name);
    std::unique_lock lock(s.mutex);
    auto it = s.values.constFind(key);
    if (it != s.values.constEnd())
        return *it;
    if (!s.warned.contains(key)) {
        s.warned.insert(key);
        lock.unlock();
        LogEntry(LOG_WARNING, QStringLiteral("Unknown style property \"%1\"").arg(key));
    }
    return QVariant();
}

QVariant StyleProxy::getProperty(const char* name, const QVariant& fallback) {
    Style& s = style();
    std::unique_lock lock(s.mutex);
    return s.values.value(QString::fromLatin1(name), fallback);
}

bool StyleProxy::hasProperty(const char* name) {
    Style& s = style();
    std::unique_lock lock(s.mutex);
    return s.values.contains(QString::fromLatin1(name));
}

void StyleProxy::setProperty(const char* name, const QVariant& value) {
    Style& s = style();
    std::unique_lock lock(s.mutex);
    s.values.insert(QString::fromLatin1(name), value);
}

bool StyleProxy::loadStyleFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        LogEntry(LOG_ERROR,
                 QStringLiteral("Cannot read the style file %1: %2").arg(path, file.errorString()));
        return false;
    }
    QHash<QString, QVariant> read;
    QTextStream in(&file);
    int lineNumber = 0;
    // A style file is small; anything past 1 MiB is not one.
    while (!in.atEnd() && file.pos() < (1 << 20)) {
        const QString line = in.readLine(4096).trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('[')))
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        const QString key = eq > 0 ? line.left(eq).trimmed() : QString();
        static const QRegularExpression validKey(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
        if (key.isEmpty() || !validKey.match(key).hasMatch()) {
            LogEntry(LOG_WARNING,
                     QStringLiteral("Style file %1, line %2: not a \"name = value\" line; skipped")
                         .arg(path)
                         .arg(lineNumber));
            continue;
        }
        read.insert(key, parseValue(line.mid(eq + 1)));
    }
    if (read.isEmpty()) {
        LogEntry(LOG_ERROR, QStringLiteral("The style file %1 holds no style property").arg(path));
        return false;
    }
    Style& s = style();
    std::unique_lock lock(s.mutex);
    for (auto it = read.constBegin(); it != read.constEnd(); ++it)
        s.values.insert(it.key(), it.value());
    return true;
}

void StyleProxy::resetToDefaults() {
    Style& s = style();
    std::unique_lock lock(s.mutex);
    s.values = defaults();
}

QStringList StyleProxy::propertyNames() {
    Style& s = style();
    std::unique_lock lock(s.mutex);
    QStringList names = s.values.keys();
    names.sort();
    return names;
}
