#pragma once

#include "result/resultdata_trvaxx.h"
#include "visualization/scenegeometry.h"

#include <osg/Switch>

#include <QObject>

// One line slot: the line itself as a polyline, its id label and a direction arrow at its start.
class LineNode : public osg::Switch {
public:
    explicit LineNode(int slot);
    int getSlot() const { return slot; }
    void update(const DetectedLine_TRVAXX& line, const std::array<float, 3>& refPoint, const osg::Vec4& color,
                const osg::Vec4& labelColor, const osg::Vec4& vectorColor);
    const LineGeometry* getLine() const { return line.get(); }

private:
    int slot;
    osg::ref_ptr<LineGeometry> line;
    osg::ref_ptr<LineGeometry> arrow;
    osg::ref_ptr<osgText::Text> label;
};

// The guidance lines of the newest result, one child per line slot. A slot holds a line when it
// has a history or is measured. A line starts beside the reference point at its lateral offset,
// heads at alpha to the driving direction, bends with its curvature and runs for its foresight.
// GUI thread only.
class LineList : public QObject, public osg::Group {
    Q_OBJECT
public:
    LineList();
    void update(const DetectedLineData_TRVAXX& lines);
    void selectLine(int id);
    void setMouseOverLine(int id);
    int getSelectedLine() const { return selectedId; }
    LineNode* getNode(int slot) const;
    const DetectedLine_TRVAXX* lineInSlot(int slot) const;
    static bool present(const DetectedLine_TRVAXX& line) { return line.history > 0 || line.measured != 0; }

signals:
    void lineSelected(int id);
    void lineDeselected();

private:
    void recolor();

    osg::Vec4 color, selectedColor, mouseOverColor, labelColor, vectorColor;
    DetectedLineData_TRVAXX current;
    int selectedId = -1;
    int mouseOverId = -1;
};

// Line guidance in the scene: the line list, the driving direction (an arrow along x from the
// reference point), the reference point (a small cross) and the cross section.
class LineGuidanceVisualization_TRVAXX : public osg::Group {
public:
    LineGuidanceVisualization_TRVAXX();
    void update(const DetectedLineData_TRVAXX& lines);
    void setLinesVisible(bool visible) { setChildValue(lineList.get(), visible); }
    void setDrivingDirectionVisible(bool visible) {
        visible ? directionSwitch->setAllChildrenOn() : directionSwitch->setAllChildrenOff();
    }
    // A vertical plane across the driving direction through the reference point.
    void setCrossSectionVisible(bool visible) { setChildValue(crossSection.get(), visible); }
    LineList* getLineList() const { return lineList.get(); }
    const LineGeometry* getDrivingDirectionVector() const { return drivingDirectionVector.get(); }

private:
    void setChildValue(osg::Node* node, bool on);

    osg::ref_ptr<osg::Switch> content;
    osg::ref_ptr<LineList> lineList;
    osg::ref_ptr<osg::Switch> directionSwitch;
    osg::ref_ptr<LineGeometry> drivingDirectionVector;
    osg::ref_ptr<LineGeometry> referencePoint;
    osg::ref_ptr<PolygonGeometry> crossSection;
};
