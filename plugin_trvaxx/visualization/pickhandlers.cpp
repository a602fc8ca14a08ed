#include "visualization/pickhandlers.h"

#include "visualization/lineguidancevisualization_trvaxx.h"
#include "visualization/objectlist.h"

#include <osgUtil/PolytopeIntersector>
#include <osgViewer/View>

#include <cmath>

bool SlotPickHandler::handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) {
    switch (ea.getEventType()) {
    case osgGA::GUIEventAdapter::PUSH:
        pressX = ea.getX();
        pressY = ea.getY();
        break;
    case osgGA::GUIEventAdapter::RELEASE:
        if (ea.getButton() == osgGA::GUIEventAdapter::LEFT_MOUSE_BUTTON &&
            std::abs(ea.getX() - pressX) <= 3 && std::abs(ea.getY() - pressY) <= 3)
            select(pick(ea, aa));
        break;
    case osgGA::GUIEventAdapter::MOVE:
        hover(pick(ea, aa));
        break;
    default:
        break;
    }
    return false; // the camera manipulator sees every event too
}

int SlotPickHandler::pick(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) const {
    auto* view = dynamic_cast<osgViewer::View*>(&aa);
    if (!view)
        return -1;
    // A small window around the pointer, so thin lines can be hit too.
    const double d = 0.01;
    const double x = ea.getXnormalized(), y = ea.getYnormalized();
    osg::ref_ptr<osgUtil::PolytopeIntersector> picker =
        new osgUtil::PolytopeIntersector(osgUtil::Intersector::PROJECTION, x - d, y - d, x + d, y + d);
    osgUtil::IntersectionVisitor visitor(picker.get());
    view->getCamera()->accept(visitor);
    for (const auto& hit : picker->getIntersections()) {
        const int id = idOnPath(hit.nodePath);
        if (id >= 0)
            return id;
    }
    return -1;
}

namespace {
template <class NodeT> const NodeT* slotNode(const osg::NodePath& path) {
    for (const osg::Node* node : path)
        if (const auto* slot = dynamic_cast<const NodeT*>(node))
            return slot;
    return nullptr;
}
} // namespace

int ObjectPickHandler::idOnPath(const osg::NodePath& path) const {
    const ObjectNode* node = slotNode<ObjectNode>(path);
    const DetectedObject_TRVAXX* o = node && list.valid() ? list->objectInSlot(node->getSlot()) : nullptr;
    return o ? o->id : -1;
}

void ObjectPickHandler::select(int id) {
    if (list.valid())
        list->selectObject(id);
}

void ObjectPickHandler::hover(int id) {
    if (list.valid())
        list->setMouseOverObject(id);
}

int LinePickHandler::idOnPath(const osg::NodePath& path) const {
    const LineNode* node = slotNode<LineNode>(path);
    const DetectedLine_TRVAXX* l = node && list.valid() ? list->lineInSlot(node->getSlot()) : nullptr;
    return l ? l->id : -1;
}

void LinePickHandler::select(int id) {
    if (list.valid())
        list->selectLine(id);
}

void LinePickHandler::hover(int id) {
    if (list.valid())
        list->setMouseOverLine(id);
}
