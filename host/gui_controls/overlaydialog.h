#pragma once

#include <QDialog>

class QDialogButtonBox;
class QVBoxLayout;

// A dialog shown over the host's window (OverlayHelper::showOverlay): a content widget with OK
// and Cancel. wasAccepted() comes when the user confirms.
class OverlayDialog : public QDialog {
    Q_OBJECT
public:
    explicit OverlayDialog(const QString& title, QWidget* parent = nullptr);

    // Places `content` above the buttons; the dialog takes it over.
    void setContent(QWidget* content);

signals:
    void wasAccepted();

private:
    QVBoxLayout* layout;
    QDialogButtonBox* buttons;
};

// Shows overlays and the host's file choice, so that plug-ins look and behave like the host.
class OverlayHelper {
public:
    // Shows `dialog` without blocking, centred over `host`'s window; it is deleted when closed.
    static void showOverlay(OverlayDialog* dialog, QWidget* host);
    // Asks for an existing file in `directory` matching `filter` ("Firmware File (*.fcr)");
    // empty when the user cancels. Blocks with its own event loop.
    static QString getOpenFilePath(QWidget* parent, const QString& caption, const QString& directory,
                                   const QString& filter);
};
