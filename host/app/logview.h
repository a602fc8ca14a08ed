#pragma once

#include "common/logentry.h"

#include <QAbstractTableModel>
#include <QWidget>

class QComboBox;
class QSortFilterProxyModel;
class QTableView;

// The log entries of this run as a table (time, level, message), newest at the bottom.
class LogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit LogModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void append(const LogEntry& entry);
    void clear();

private:
    QList<LogEntry> rows;
};

// The log panel: the table with a level filter and a clear button.
class LogView : public QWidget {
    Q_OBJECT
public:
    explicit LogView(QWidget* parent = nullptr);
    LogModel* model() const { return logModel; }

private:
    LogModel* logModel;
    QSortFilterProxyModel* filter;
    QTableView* table;
    QComboBox* level;
};
