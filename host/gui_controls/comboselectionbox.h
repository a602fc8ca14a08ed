#pragma once

#include <QComboBox>
#include <QVariant>

// A combo box of choices, each a shown text with a stored value. Signals the chosen value with
// changed(QVariant) whenever the choice changes, by the user or by setCurrentValue().
class ComboSelectionBox : public QComboBox {
    Q_OBJECT
public:
    explicit ComboSelectionBox(QWidget* parent = nullptr);

    void addSelection(const QString& text, const QVariant& value);
    QVariant currentValue() const { return currentData(); }
    // Chooses the entry holding `value`; false (choice unchanged) when none does.
    bool setCurrentValue(const QVariant& value);

signals:
    void changed(QVariant value);
};
