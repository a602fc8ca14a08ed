#pragma once

#include "result/resultdata_trvaxx.h"
#include "visualization/scenegeometry.h"

#include <osg/Group>
#include <osg/Switch>

#include <QObject>

// One object slot of the scene: the box, the id text above it and the velocity vector.
class ObjectNode : public osg::Switch {
public:
    enum State { Normal, Crashed, Selected, MouseOver };

    explicit ObjectNode(int slot);
    int getSlot() const { return slot; }

    // Places the box over x1..x2, y1..y2, zMin..zMax, the id 0.1 above its top and the vector
    // from its centre along the velocity (one second of travel).
    void update(const DetectedObject_TRVAXX& object, const osg::Vec4& color, const osg::Vec4& vectorColor);
    const BoxGeometry* getBox() const { return box.get(); }
    const osgText::Text* getIdText() const { return idText.get(); }
    const LineGeometry* getVector() const { return vector.get(); }

private:
    int slot;
    osg::ref_ptr<BoxGeometry> box;
    osg::ref_ptr<osgText::Text> idText;
    osg::ref_ptr<LineGeometry> vector;
};

// The detected objects of the newest result, one child node per object slot. An object is shown
// when its slot holds an id (not -1); retro-reflector objects (type 2) use the retro colours and
// follow their own visibility switch. The selected and the hovered object (by id) get their
// colours, the object the crash predictor names while a crash is predicted the crashed colour.
// GUI thread only.
class ObjectList : public QObject, public osg::Group {
    Q_OBJECT
public:
    static constexpr int kRetroType = 2;

    ObjectList();

    void update(const DetectedObjectData_TRVAXX& objects);
    void setObjectsVisible(bool visible);
    void setRetroVisible(bool visible);

    // Selection and hover by object id (-1: none). Selecting emits objectSelected / objectDeselected.
    void selectObject(int id);
    void setMouseOverObject(int id);
    int getSelectedObject() const { return selectedId; }
    ObjectNode* getNode(int slot) const;
    // The object currently shown in `slot`, if any.
    const DetectedObject_TRVAXX* objectInSlot(int slot) const;

    // Colours by state for an ordinary or a retro-reflector object.
    osg::Vec4 colorFor(ObjectNode::State state, bool retro) const;

signals:
    void objectSelected(int id);
    void objectDeselected();
    // The selected object left the list.
    void objectRemoved();

private:
    void recolor();
    bool shown(const DetectedObject_TRVAXX& object) const;

    struct Colors {
        osg::Vec4 normal, crashed, selected, mouseOver, vector;
    };
    Colors objectColors, retroColors;
    DetectedObjectData_TRVAXX current;
    bool objectsVisible = true;
    bool retroVisible = true;
    int selectedId = -1;
    int mouseOverId = -1;
};
