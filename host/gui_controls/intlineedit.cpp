#include "gui_controls/intlineedit.h"

#include <algorithm>

IntLineEdit::IntLineEdit(QWidget* parent) : QLineEdit(parent), validator(0, 0) {
    setValidator(&validator);
    setValue(0);
    connect(this, &QLineEdit::editingFinished, this, [this] { setValue(value()); });
}

void IntLineEdit::setRange(int min, int max) {
    validator.setRange(min, std::max(min, max));
    setValue(value());
}

int IntLineEdit::value() const {
    bool ok = false;
    const qlonglong number = text().toLongLong(&ok);
    if (!ok)
        return minimum();
    return int(std::clamp<qlonglong>(number, minimum(), maximum()));
}

void IntLineEdit::setValue(int number) {
    const QString shown = QString::number(std::clamp(number, minimum(), maximum()));
    if (shown != text())
        setText(shown);
}
