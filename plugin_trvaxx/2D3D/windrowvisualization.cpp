#include "2D3D/windrowvisualization.h"

#include "common/styleproxy.h"

#include <QPainter>
#include <QPainterPath>

WindrowVisualization::WindrowVisualization(QWidget* parent)
    : QWidget(parent), backgroundColor(StyleProxy::getProperty("backgroundColor").value<QColor>()),
      borderColor(StyleProxy::getProperty("borderColor").value<QColor>()),
      groundColor(StyleProxy::getProperty("groundColor").value<QColor>()),
      borderWidth(StyleProxy::getProperty("borderWidth").toReal()) {}

void WindrowVisualization::setWindrowMinHeight(qreal metres) {
    minHeight = metres;
    update();
}

void WindrowVisualization::setWindrowMaxWidth(qreal metres) {
    maxWidth = metres;
    update();
}

void WindrowVisualization::setWindrowMinWidth(qreal metres) {
    minWidth = metres;
    update();
}

void WindrowVisualization::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), backgroundColor);
    QFont font(QStringLiteral("Segoe UI Semibold"));
    font.setPixelSize(11);
    painter.setFont(font);

    // Metres to pixels: the widest heap fills 70 % of the width, with room for the labels.
    const qreal span = std::max({maxWidth, minWidth, 0.1});
    const qreal scale = width() * 0.7 / span;
    const qreal groundY = height() * 0.75;
    const qreal centreX = width() / 2.0;
    painter.fillRect(QRectF(0, groundY, width(), height() - groundY), groundColor);

    // The widest accepted heap as a flat outline, the smallest followed one as a filled mound.
    const qreal outerHalf = maxWidth * scale / 2;
    const qreal innerHalf = minWidth * scale / 2;
    const qreal top = groundY - std::max(minHeight, 0.0) * scale;
    painter.setPen(QPen(borderColor, borderWidth, Qt::DashLine));
    painter.drawLine(QPointF(centreX - outerHalf, groundY), QPointF(centreX + outerHalf, groundY));
    QPainterPath mound;
    mound.moveTo(centreX - innerHalf, groundY);
    mound.quadTo(centreX, 2 * top - groundY, centreX + innerHalf, groundY);
    painter.setPen(QPen(borderColor, borderWidth));
    painter.setBrush(borderColor.darker(160));
    painter.drawPath(mound);

    painter.setPen(Qt::white);
    painter.drawText(QRectF(4, 4, width() - 8, 40), Qt::AlignLeft | Qt::AlignTop,
                     tr("min height\n%1").arg(QString::asprintf("%3.1fm", minHeight)));
    painter.drawText(QRectF(0, groundY + 4, width(), 20), Qt::AlignHCenter | Qt::AlignTop,
                     tr("min width %1").arg(QString::asprintf("%3.1f", minWidth)));
    painter.drawText(QRectF(0, groundY + 22, width(), 20), Qt::AlignHCenter | Qt::AlignTop,
                     QString::asprintf("%3.1f", maxWidth) + QStringLiteral(" m"));
}
