#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

// The host's main settings: developer mode and the style file; shows where data is kept.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(QWidget* parent = nullptr);

private:
    void save();

    QCheckBox* devMode;
    QLineEdit* styleFile;
};
