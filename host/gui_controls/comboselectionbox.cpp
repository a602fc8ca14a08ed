#include "gui_controls/comboselectionbox.h"

ComboSelectionBox::ComboSelectionBox(QWidget* parent) : QComboBox(parent) {
    connect(this, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index >= 0)
            emit changed(itemData(index));
    });
}

void ComboSelectionBox::addSelection(const QString& text, const QVariant& value) {
    addItem(text, value);
}

bool ComboSelectionBox::setCurrentValue(const QVariant& value) {
    const int index = findData(value);
    if (index < 0)
        return false;
    setCurrentIndex(index);
    return true;
}
