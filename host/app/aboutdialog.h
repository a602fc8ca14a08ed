#pragma once

#include <QDialog>

class PluginManager;
class QTableWidget;

// About OrlanGUI: the application's version, the system information entries that the host and the
// plug-ins registered, the loaded plug-ins and the refused files.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(const PluginManager& plugins, QWidget* parent = nullptr);

    QTableWidget* systemInfoTable() const { return info; }

private:
    QTableWidget* info;
};
