#include "app/logview.h"

#include "common/commonutilities.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {
constexpr int MAX_ROWS = 5000;

// Shows rows at or above a minimum level.
class LevelFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setMinimum(int level) {
        minimum = level;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        return sourceModel()->index(row, 1, parent).data(Qt::UserRole).toInt() >= minimum;
    }

private:
    int minimum = LOG_INFO;
};
} // namespace

LogModel::LogModel(QObject* parent) : QAbstractTableModel(parent) {
    for (const LogEntry& e : LogBook::instance().entries())
        rows.append(e);
    // Entries may come from worker threads; the queued connection brings them to this thread.
    connect(&LogBook::instance(), &LogBook::entryAdded, this, &LogModel::append, Qt::QueuedConnection);
}

int LogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows.size();
}

int LogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows.size())
        return {};
    const LogEntry& e = rows[index.row()];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case 0:
            return e.getTime().toString(QStringLiteral("HH:mm:ss.zzz"));
        case 1:
            return LogEntry::levelName(e.getLevel());
        default:
            return role == Qt::DisplayRole ? e.getMessage().replace(QLatin1Char('\n'), QLatin1Char(' '))
                                           : e.getMessage();
        }
    }
    if (role == Qt::UserRole)
        return static_cast<int>(e.getLevel());
    if (role == Qt::ForegroundRole && index.column() == 1) {
        switch (e.getLevel()) {
        case LOG_WARNING:
            return QColor(QStringLiteral("#e0a526"));
        case LOG_ERROR:
        case LOG_CRITICAL:
            return QColor(QStringLiteral("#e05252"));
        case LOG_DEBUG:
            return QColor(QStringLiteral("#8b96a3"));
        default:
            return QColor(QStringLiteral("#2f8fdd"));
        }
    }
    return {};
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0:
        return tr("Time");
    case 1:
        return tr("Level");
    default:
        return tr("Message");
    }
}

void LogModel::append(const LogEntry& entry) {
    if (rows.size() >= MAX_ROWS) {
        beginRemoveRows(QModelIndex(), 0, 0);
        rows.removeFirst();
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), rows.size(), rows.size());
    rows.append(entry);
    endInsertRows();
}

void LogModel::clear() {
    beginResetModel();
    rows.clear();
    endResetModel();
}

LogView::LogView(QWidget* parent) : QWidget(parent) {
    logModel = new LogModel(this);
    auto* levelFilter = new LevelFilter(this);
    filter = levelFilter;
    filter->setSourceModel(logModel);

    table = new QTableView(this);
    table->setModel(filter);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->setShowGrid(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(22);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    table->setColumnWidth(0, 100);
    table->setColumnWidth(1, 70);

    level = new QComboBox(this);
    level->addItem(tr("Everything"), LOG_DEBUG);
    level->addItem(tr("Information and above"), LOG_INFO);
    level->addItem(tr("Warnings and errors"), LOG_WARNING);
    level->addItem(tr("Errors only"), LOG_ERROR);
    const int saved =
        CommonUtilities::gocSettings().value(QStringLiteral("log/minimumLevel"), LOG_INFO).toInt();
    level->setCurrentIndex(qMax(0, level->findData(saved)));
    levelFilter->setMinimum(level->currentData().toInt());
    connect(level, &QComboBox::currentIndexChanged, this, [this, levelFilter] {
        const int minimum = level->currentData().toInt();
        levelFilter->setMinimum(minimum);
        CommonUtilities::gocSettings().setValue(QStringLiteral("log/minimumLevel"), minimum);
    });
    auto* clear = new QPushButton(tr("Clear"), this);
    connect(clear, &QPushButton::clicked, this, [this] {
        LogBook::instance().clear();
        logModel->clear();
    });
    connect(logModel, &QAbstractItemModel::rowsInserted, table, [this] { table->scrollToBottom(); });

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("Show:"), this));
    bar->addWidget(level);
    bar->addStretch(1);
    bar->addWidget(clear);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(bar);
    layout->addWidget(table, 1);
}
