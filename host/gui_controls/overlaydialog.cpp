#include "gui_controls/overlaydialog.h"

#include "common/styleproxy.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QVBoxLayout>

OverlayDialog::OverlayDialog(const QString& title, QWidget* parent)
    : QDialog(parent), layout(new QVBoxLayout(this)),
      buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
    setWindowTitle(title);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, &OverlayDialog::wasAccepted);
}

void OverlayDialog::setContent(QWidget* content) {
    content->setParent(this);
    content->setStyleSheet(StyleProxy::getProperty("overlayWindowContent", QString()).toString());
    layout->insertWidget(0, content);
}

void OverlayHelper::showOverlay(OverlayDialog* dialog, QWidget* host) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->show();
    if (host && host->window())
        dialog->move(host->window()->geometry().center() - dialog->rect().center());
}

QString OverlayHelper::getOpenFilePath(QWidget* parent, const QString& caption, const QString& directory,
                                       const QString& filter) {
    // Qt's own dialog: the same on every desktop and drivable in tests on the offscreen platform.
    QFileDialog dialog(parent, caption, directory, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}
