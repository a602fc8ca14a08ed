#include "app/settingsdialog.h"

#include "common/commonutilities.h"
#include "common/styleproxy.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Settings"));
    resize(560, 260);
    QSettings& settings = CommonUtilities::gocSettings();

    devMode = new QCheckBox(tr("Developer mode (shows developer-only scouts and debug log lines)"), this);
    devMode->setChecked(settings.value(QStringLiteral("devMode"), false).toBool());

    styleFile = new QLineEdit(settings.value(QStringLiteral("styleFile")).toString(), this);
    styleFile->setPlaceholderText(tr("Built-in style"));
    auto* browse = new QPushButton(tr("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, tr("Style file"), QString(),
                                                          tr("Style file (*.style *.ini);;All files (*)"));
        if (!file.isEmpty())
            styleFile->setText(file);
    });
    auto* styleRow = new QHBoxLayout;
    styleRow->addWidget(styleFile, 1);
    styleRow->addWidget(browse);

    auto* dataDir = new QLabel(CommonUtilities::getOrlanGUIAppDataDir(), this);
    dataDir->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* form = new QFormLayout;
    form->addRow(QString(), devMode);
    form->addRow(tr("Style file"), styleRow);
    form->addRow(tr("Data folder"), dataDir);

    auto* note = new QLabel(tr("Changes of developer mode and style take effect at the next start."), this);
    note->setObjectName(QStringLiteral("emptyHint"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addStretch(1);
    layout->addWidget(buttons);
}

void SettingsDialog::save() {
    const QString file = styleFile->text().trimmed();
    if (!file.isEmpty() && !StyleProxy::loadStyleFile(file)) {
        QMessageBox::warning(this, tr("Settings"),
                             tr("The style file cannot be used; see the log for details."));
        return;
    }
    QSettings& settings = CommonUtilities::gocSettings();
    settings.setValue(QStringLiteral("devMode"), devMode->isChecked());
    settings.setValue(QStringLiteral("styleFile"), file);
    accept();
}
