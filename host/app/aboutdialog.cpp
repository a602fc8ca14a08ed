#include "app/aboutdialog.h"

#include "app/pluginmanager.h"
#include "common/commonsysteminfo.h"
#include "gui_controls/notificationicons.h"
#include "sdk/sensortype.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
QTableWidget* makeTable(int columns, const QStringList& headers, QWidget* parent) {
    auto* table = new QTableWidget(0, columns, parent);
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setWordWrap(false);
    table->verticalHeader()->setDefaultSectionSize(26);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setShowGrid(false);
    return table;
}

void addRow(QTableWidget* table, const QStringList& cells) {
    const int row = table->rowCount();
    table->insertRow(row);
    for (int c = 0; c < cells.size(); ++c)
        table->setItem(row, c, new QTableWidgetItem(cells[c]));
}
} // namespace

AboutDialog::AboutDialog(const PluginManager& plugins, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About OrlanGUI"));
    resize(760, 560);

    auto* title = new QLabel(QStringLiteral("OrlanGUI"), this);
    title->setObjectName(QStringLiteral("homeTitle"));
    auto* subtitle = new QLabel(tr("Configuration and monitoring of mobile sensors. Version %1, Qt %2.")
                                    .arg(QApplication::applicationVersion(), QString::fromLatin1(qVersion())),
                                this);
    subtitle->setObjectName(QStringLiteral("homeSubtitle"));

    info = makeTable(2, {tr("Component"), tr("Version")}, this);
    info->setObjectName(QStringLiteral("systemInfoTable"));
    for (const auto& entry : CommonSystemInfo::instance().entries())
        addRow(info, {entry.first, entry.second});
    info->resizeColumnToContents(0);
    info->setColumnWidth(0, qMax(info->columnWidth(0) + 24, 180));

    // The full path of each file is its tool tip.
    auto* pluginTable = makeTable(2, {tr("Plug-in"), tr("Sensor types")}, this);
    for (const PluginManager::LoadedPlugin& p : plugins.plugins()) {
        QStringList names;
        for (SensorType* type : p.sensorTypes)
            names << type->getName();
        addRow(pluginTable, {p.fileName, names.join(QStringLiteral(", "))});
        pluginTable->item(pluginTable->rowCount() - 1, 0)->setToolTip(p.filePath);
    }
    for (const PluginManager::Refusal& r : plugins.refusals()) {
        addRow(pluginTable, {QFileInfo(r.filePath).fileName(), tr("refused: %1").arg(r.reason)});
        const int row = pluginTable->rowCount() - 1;
        pluginTable->item(row, 0)->setToolTip(r.filePath);
        pluginTable->item(row, 1)->setToolTip(r.reason);
        pluginTable->item(row, 0)->setIcon(NotificationIcons::icon(QString(), NOTIFICATION_ERROR, 16));
    }
    pluginTable->resizeColumnToContents(0);
    pluginTable->setColumnWidth(0, pluginTable->columnWidth(0) + 24);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(subtitle);
    layout->addSpacing(6);
    auto* infoLabel = new QLabel(tr("SYSTEM INFORMATION"), this);
    infoLabel->setObjectName(QStringLiteral("sectionTitle"));
    layout->addWidget(infoLabel);
    layout->addWidget(info, 1);
    auto* pluginLabel = new QLabel(tr("PLUG-INS"), this);
    pluginLabel->setObjectName(QStringLiteral("sectionTitle"));
    layout->addWidget(pluginLabel);
    layout->addWidget(pluginTable, 1);
    layout->addWidget(buttons);
}
