#include "visualization/objectlist.h"

#include "osg3dvisualization/scenestyle.h"

ObjectNode::ObjectNode(int slot)
    : slot(slot), box(new BoxGeometry), idText(makeSceneText(0.3f, osg::Vec4(1, 1, 1, 1))),
      vector(new LineGeometry(GL_LINES, 2.5f)) {
    setDataVariance(osg::Object::DYNAMIC);
    osg::ref_ptr<osg::Geode> label = new osg::Geode;
    label->addDrawable(idText.get());
    addChild(box.get());
    addChild(label.get());
    addChild(vector.get());
}

void ObjectNode::update(const DetectedObject_TRVAXX& o, const osg::Vec4& color,
                        const osg::Vec4& vectorColor) {
    const osg::Vec3 center((o.x1 + o.x2) * 0.5f, (o.y1 + o.y2) * 0.5f, (o.zMin + o.zMax) * 0.5f);
    const osg::Vec3 half(std::abs(o.x2 - o.x1) * 0.5f, std::abs(o.y2 - o.y1) * 0.5f,
                         std::abs(o.zMax - o.zMin) * 0.5f);
    box->setBox(center, half);
    box->setColor(color);
    idText->setText(std::to_string(o.id));
    idText->setPosition(center + osg::Vec3(0, 0, half.z() + 0.1f));
    idText->setColor(color);
    vector->setPoints({center, center + osg::Vec3(o.vX, o.vY, o.vZ)});
    vector->setColor(vectorColor);
}

ObjectList::ObjectList() {
    setDataVariance(osg::Object::DYNAMIC);
    objectColors = {sceneColor("objectColor"), sceneColor("objectCrashedColor"),
                    sceneColor("objectSelectedColor"), sceneColor("objectMouseOverColor"),
                    sceneColor("objectVectorColor")};
    retroColors = {sceneColor("retroColor"), sceneColor("objectCrashedColor"),
                   sceneColor("retroSelectedColor"), sceneColor("retroMouseOverColor"),
                   sceneColor("retroVectorColor")};
    for (int slot = 0; slot < TRVAXX_OBJECT_COUNT; ++slot) {
        osg::ref_ptr<ObjectNode> node = new ObjectNode(slot);
        node->setAllChildrenOff();
        addChild(node.get());
    }
    current.count = 0;
}

ObjectNode* ObjectList::getNode(int slot) const {
    return slot >= 0 && slot < int(getNumChildren())
               ? static_cast<ObjectNode*>(const_cast<osg::Node*>(getChild(slot)))
               : nullptr;
}

bool ObjectList::shown(const DetectedObject_TRVAXX& o) const {
    if (o.id < 0)
        return false;
    return o.type == kRetroType ? retroVisible : objectsVisible;
}

const DetectedObject_TRVAXX* ObjectList::objectInSlot(int slot) const {
    if (slot < 0 || slot >= std::min<int>(current.count, TRVAXX_OBJECT_COUNT))
        return nullptr;
    const DetectedObject_TRVAXX& o = current.objects[size_t(slot)];
    return shown(o) ? &o : nullptr;
}

osg::Vec4 ObjectList::colorFor(ObjectNode::State state, bool retro) const {
    const Colors& c = retro ? retroColors : objectColors;
    switch (state) {
    case ObjectNode::Crashed:
        return c.crashed;
    case ObjectNode::Selected:
        return c.selected;
    case ObjectNode::MouseOver:
        return c.mouseOver;
    default:
        return c.normal;
    }
}

void ObjectList::update(const DetectedObjectData_TRVAXX& objects) {
    current = objects;
    if (selectedId >= 0) {
        bool present = false;
        for (int i = 0; i < std::min<int>(current.count, TRVAXX_OBJECT_COUNT); ++i)
            present = present || current.objects[size_t(i)].id == selectedId;
        if (!present) {
            selectedId = -1;
            emit objectRemoved();
        }
    }
    recolor();
}

void ObjectList::recolor() {
    const bool crash = current.crashPredicted == 1;
    for (int slot = 0; slot < TRVAXX_OBJECT_COUNT; ++slot) {
        ObjectNode* node = getNode(slot);
        const DetectedObject_TRVAXX* o = objectInSlot(slot);
        if (!o) {
            node->setAllChildrenOff();
            continue;
        }
        ObjectNode::State state = ObjectNode::Normal;
        if (crash && o->id == current.crashObjectID)
            state = ObjectNode::Crashed;
        else if (o->id == selectedId)
            state = ObjectNode::Selected;
        else if (o->id == mouseOverId)
            state = ObjectNode::MouseOver;
        const bool retro = o->type == kRetroType;
        node->update(*o, colorFor(state, retro), (retro ? retroColors : objectColors).vector);
        node->setAllChildrenOn();
    }
}

void ObjectList::setObjectsVisible(bool visible) {
    objectsVisible = visible;
    recolor();
}

void ObjectList::setRetroVisible(bool visible) {
    retroVisible = visible;
    recolor();
}

void ObjectList::selectObject(int id) {
    if (id == selectedId)
        return;
    selectedId = id;
    recolor();
    if (id >= 0)
        emit objectSelected(id);
    else
        emit objectDeselected();
}

void ObjectList::setMouseOverObject(int id) {
    if (id == mouseOverId)
        return;
    mouseOverId = id;
    recolor();
}
