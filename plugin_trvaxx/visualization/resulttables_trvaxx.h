#pragma once

#include "result/resultdata_trvaxx.h"

#include <QTableWidget>

// A read-only table of function results beside the 3D scene; its cells are reused from one result
// to the next.
class ResultTable_TRVAXX : public QTableWidget {
    Q_OBJECT
public:
    ResultTable_TRVAXX(const QStringList& headers, QWidget* parent);

protected:
    void setRows(const QList<QStringList>& rows);
};

// The detected objects present in the list: id, box bounds, velocity and existence probability.
class ObjectTable_TRVAXX : public ResultTable_TRVAXX {
    Q_OBJECT
public:
    explicit ObjectTable_TRVAXX(QWidget* parent = nullptr);
    void refresh(const DetectedObjectData_TRVAXX& objects);
};

// The guidance lines present in the list: id, offset, angle, curvature, quality and foresight.
class LineTable_TRVAXX : public ResultTable_TRVAXX {
    Q_OBJECT
public:
    explicit LineTable_TRVAXX(QWidget* parent = nullptr);
    void refresh(const DetectedLineData_TRVAXX& lines);
};
