#include "visualization/resulttables_trvaxx.h"

#include "common/unittext.h"
#include "visualization/lineguidancevisualization_trvaxx.h"

#include <QHeaderView>

#include <cmath>

ResultTable_TRVAXX::ResultTable_TRVAXX(const QStringList& headers, QWidget* parent)
    : QTableWidget(0, int(headers.size()), parent) {
    setHorizontalHeaderLabels(headers);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

void ResultTable_TRVAXX::setRows(const QList<QStringList>& rows) {
    setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < columnCount() && c < rows[r].size(); ++c) {
            QTableWidgetItem* cell = item(r, c);
            if (!cell)
                setItem(r, c, cell = new QTableWidgetItem);
            if (cell->text() != rows[r][c])
                cell->setText(rows[r][c]);
        }
}

ObjectTable_TRVAXX::ObjectTable_TRVAXX(QWidget* parent)
    : ResultTable_TRVAXX({tr("ID"), tr("x1"), tr("y1"), tr("x2"), tr("y2"), tr("z min"), tr("z max"),
                          tr("vx"), tr("vy"), tr("Existence")},
                         parent) {}

void ObjectTable_TRVAXX::refresh(const DetectedObjectData_TRVAXX& data) {
    QList<QStringList> rows;
    for (int i = 0; i < std::clamp<int>(data.count, 0, TRVAXX_OBJECT_COUNT); ++i) {
        const DetectedObject_TRVAXX& o = data.objects[size_t(i)];
        if (o.id < 0)
            continue;
        rows.append({QString::number(o.id), unitText(o.x1, Unit::Meter, 2), unitText(o.y1, Unit::Meter, 2),
                     unitText(o.x2, Unit::Meter, 2), unitText(o.y2, Unit::Meter, 2),
                     unitText(o.zMin, Unit::Meter, 2), unitText(o.zMax, Unit::Meter, 2),
                     unitText(o.vX, Unit::MeterPerSecond, 2), unitText(o.vY, Unit::MeterPerSecond, 2),
                     unitText(o.existenceProbability * 100.0, Unit::Percent, 0)});
    }
    setRows(rows);
}

LineTable_TRVAXX::LineTable_TRVAXX(QWidget* parent)
    : ResultTable_TRVAXX(
          {tr("ID"), tr("Offset"), tr("Angle"), tr("Curvature"), tr("Quality"), tr("Foresight")}, parent) {}

void LineTable_TRVAXX::refresh(const DetectedLineData_TRVAXX& data) {
    QList<QStringList> rows;
    for (int i = 0; i < std::clamp<int>(data.count, 0, TRVAXX_LINE_COUNT); ++i) {
        const DetectedLine_TRVAXX& l = data.lines[size_t(i)];
        if (!LineList::present(l))
            continue;
        rows.append({QString::number(l.id), unitText(l.offset, Unit::Meter, 2),
                     unitText(l.alpha * 180.0 / M_PI, Unit::Degree, 0), QString::number(l.curvature, 'f', 3),
                     unitText(l.quality * 100.0, Unit::Percent, 0), unitText(l.foresight, Unit::Meter, 2)});
    }
    setRows(rows);
}
