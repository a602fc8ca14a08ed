#include "gui_controls/notificationicons.h"

#include "common/styleproxy.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
QColor styleColor(const char* name, const char* fallback) {
    const QVariant v = StyleProxy::getProperty(name, QColor(QString::fromLatin1(fallback)));
    const QColor c = v.value<QColor>();
    return c.isValid() ? c : QColor(QString::fromLatin1(fallback));
}

enum class Glyph { Info, Warning, Error, Success, Loading };

Glyph glyphFor(const QString& name, NotificationType type) {
    if (name == QLatin1String("iconNotifiInfo"))
        return Glyph::Info;
    if (name == QLatin1String("iconNotifiWarning"))
        return Glyph::Warning;
    if (name == QLatin1String("iconNotifiError"))
        return Glyph::Error;
    if (name == QLatin1String("iconNotifiSuccess"))
        return Glyph::Success;
    if (name == QLatin1String("iconNotifiLoading"))
        return Glyph::Loading;
    switch (type) {
    case NOTIFICATION_WARNING:
        return Glyph::Warning;
    case NOTIFICATION_ERROR:
        return Glyph::Error;
    default:
        return Glyph::Info;
    }
}

QPixmap draw(Glyph glyph, QColor colour, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPen pen(Qt::white, s * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (glyph == Glyph::Warning) {
        QPainterPath triangle;
        triangle.moveTo(s * 0.5, s * 0.06);
        triangle.lineTo(s * 0.96, s * 0.9);
        triangle.lineTo(s * 0.04, s * 0.9);
        triangle.closeSubpath();
        p.fillPath(triangle, colour);
        p.setPen(QPen(QColor(30, 30, 30), s * 0.1, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.5, s * 0.36), QPointF(s * 0.5, s * 0.6));
        p.drawPoint(QPointF(s * 0.5, s * 0.76));
        return pixmap;
    }
    if (glyph == Glyph::Loading) {
        p.setPen(QPen(colour.darker(160), s * 0.12));
        p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8));
        p.setPen(QPen(colour, s * 0.12, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8), 90 * 16, -120 * 16);
        return pixmap;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92));
    p.setPen(pen);
    switch (glyph) {
    case Glyph::Info:
        p.drawPoint(QPointF(s * 0.5, s * 0.28));
        p.drawLine(QPointF(s * 0.5, s * 0.45), QPointF(s * 0.5, s * 0.74));
        break;
    case Glyph::Error:
        p.drawLine(QPointF(s * 0.34, s * 0.34), QPointF(s * 0.66, s * 0.66));
        p.drawLine(QPointF(s * 0.66, s * 0.34), QPointF(s * 0.34, s * 0.66));
        break;
    case Glyph::Success: {
        QPainterPath tick;
        tick.moveTo(s * 0.3, s * 0.52);
        tick.lineTo(s * 0.45, s * 0.67);
        tick.lineTo(s * 0.72, s * 0.36);
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
        break;
    }
    default:
        break;
    }
    return pixmap;
}
} // namespace

namespace NotificationIcons {

QColor typeColor(NotificationType type) {
    switch (type) {
    case NOTIFICATION_WARNING:
        return styleColor("warningColor", "#e0a526");
    case NOTIFICATION_ERROR:
        return styleColor("errorColor", "#e05252");
    case NOTIFICATION_EVENT:
        return styleColor("successColor", "#3fb27f");
    default:
        return styleColor("infoColor", "#2f8fdd");
    }
}

QIcon icon(const QString& name, NotificationType type, int size) {
    const Glyph glyph = glyphFor(name, type);
    QColor colour = typeColor(type);
    if (glyph == Glyph::Info)
        colour = styleColor("infoColor", "#2f8fdd");
    else if (glyph == Glyph::Success)
        colour = styleColor("successColor", "#3fb27f");
    else if (glyph == Glyph::Warning)
        colour = styleColor("warningColor", "#e0a526");
    else if (glyph == Glyph::Error)
        colour = styleColor("errorColor", "#e05252");
    QIcon result;
    result.addPixmap(draw(glyph, colour, size));
    result.addPixmap(draw(glyph, colour, size * 2));
    return result;
}

} // namespace NotificationIcons
