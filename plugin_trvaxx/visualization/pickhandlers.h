#pragma once

#include <osg/Node>
#include <osg/observer_ptr>
#include <osgGA/GUIEventHandler>

class ObjectList;
class LineList;

// Turns mouse input in the 3D scene into selection and hover of one kind of slot node: a click
// (press and release within a few pixels) selects what lies under the pointer or clears the
// selection, moving the pointer sets the hovered item. Dragging (turning the camera) selects
// nothing. GUI thread.
class SlotPickHandler : public osgGA::GUIEventHandler {
public:
    bool handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) override;

protected:
    // The id of the item whose node lies on `path`, -1 when none does.
    virtual int idOnPath(const osg::NodePath& path) const = 0;
    virtual void select(int id) = 0;
    virtual void hover(int id) = 0;

private:
    int pick(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) const;
    float pressX = 0, pressY = 0;
};

class ObjectPickHandler : public SlotPickHandler {
public:
    explicit ObjectPickHandler(ObjectList* list) : list(list) {}

protected:
    int idOnPath(const osg::NodePath& path) const override;
    void select(int id) override;
    void hover(int id) override;

private:
    osg::observer_ptr<ObjectList> list;
};

class LinePickHandler : public SlotPickHandler {
public:
    explicit LinePickHandler(LineList* list) : list(list) {}

protected:
    int idOnPath(const osg::NodePath& path) const override;
    void select(int id) override;
    void hover(int id) override;

private:
    osg::observer_ptr<LineList> list;
};
