#include "gui_controls/ip4addresswidget.h"

#include "common/styleproxy.h"

#include <QHBoxLayout>
#include <QRegularExpressionValidator>

namespace {

const QString part = QStringLiteral("(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)");

} // namespace

Ip4AddressWidget::Ip4AddressWidget(QWidget* parent) : QWidget(parent), edit(new QLineEdit(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit);
    // Intermediate input ("192.168.") is allowed while typing; only complete addresses count.
    edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^%1(\\.%1){3}$").arg(part)), edit));
    edit->setMinimumWidth(StyleProxy::getProperty("ipInputLength", 150).toInt());
    connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (edit->hasAcceptableInput())
            emit addressChanged(text);
    });
}

bool Ip4AddressWidget::setAddress(const QString& text) {
    const QString previous = edit->text();
    edit->setText(text);
    if (edit->hasAcceptableInput())
        return true;
    edit->setText(previous);
    return false;
}
