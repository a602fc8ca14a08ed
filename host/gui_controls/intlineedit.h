#pragma once

#include <QIntValidator>
#include <QLineEdit>

// A line edit for a whole number within a range. Typing is limited to what the range allows; a
// value left out of range (or empty) when editing finishes is brought into it.
class IntLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit IntLineEdit(QWidget* parent = nullptr);

    // Sets the range and brings the current value into it.
    void setRange(int min, int max);
    int minimum() const { return validator.bottom(); }
    int maximum() const { return validator.top(); }
    // The shown number, clamped into the range (the minimum when nothing is shown).
    int value() const;
    void setValue(int value);

private:
    QIntValidator validator;
};
