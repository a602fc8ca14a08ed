#include "visualization/lineguidancevisualization_trvaxx.h"

#include "osg3dvisualization/scenestyle.h"

#include <cmath>

namespace {
// Points of a line: start, heading, curvature, length; one point every 0.25 m.
std::vector<osg::Vec3> linePoints(const osg::Vec3& start, float alpha, float curvature, float length) {
    std::vector<osg::Vec3> points{start};
    const int steps = std::clamp(int(std::ceil(length / 0.25f)), 1, 400);
    const float ds = length / float(steps);
    osg::Vec3 p = start;
    for (int i = 0; i < steps; ++i) {
        const float heading = alpha + curvature * (float(i) + 0.5f) * ds;
        p += osg::Vec3(std::cos(heading), std::sin(heading), 0) * ds;
        points.push_back(p);
    }
    return points;
}

osg::Vec3 lineStart(const DetectedLine_TRVAXX& line, const std::array<float, 3>& ref) {
    return osg::Vec3(ref[0], ref[1] + line.offset, ref[2]);
}
} // namespace

LineNode::LineNode(int slot)
    : slot(slot), line(new LineGeometry(GL_LINE_STRIP, 4.0f)), arrow(new LineGeometry(GL_LINES, 2.0f)),
      label(makeSceneText(0.3f, osg::Vec4(1, 1, 1, 1))) {
    setDataVariance(osg::Object::DYNAMIC);
    osg::ref_ptr<osg::Geode> labelGeode = new osg::Geode;
    labelGeode->addDrawable(label.get());
    addChild(line.get());
    addChild(arrow.get());
    addChild(labelGeode.get());
}

void LineNode::update(const DetectedLine_TRVAXX& l, const std::array<float, 3>& ref, const osg::Vec4& color,
                      const osg::Vec4& labelColor, const osg::Vec4& vectorColor) {
    const osg::Vec3 start = lineStart(l, ref);
    const float length = std::isfinite(l.foresight) ? std::clamp(l.foresight, 0.5f, 100.0f) : 0.5f;
    const float alpha = std::isfinite(l.alpha) ? l.alpha : 0.0f;
    const float curvature = std::isfinite(l.curvature) ? l.curvature : 0.0f;
    line->setPoints(linePoints(start, alpha, curvature, length));
    line->setColor(color);
    const osg::Vec3 dir(std::cos(alpha), std::sin(alpha), 0);
    const osg::Vec3 side(-dir.y(), dir.x(), 0);
    const osg::Vec3 tip = start + dir * 1.5f;
    arrow->setPoints(
        {start, tip, tip, tip - dir * 0.3f + side * 0.15f, tip, tip - dir * 0.3f - side * 0.15f});
    arrow->setColor(vectorColor);
    label->setText(std::to_string(l.id));
    label->setPosition(start + osg::Vec3(0, 0, 0.3f));
    label->setColor(labelColor);
}

LineList::LineList()
    : color(sceneColor("lineColor")), selectedColor(sceneColor("lineSelectedColor")),
      mouseOverColor(sceneColor("lineMouseOverColor")), labelColor(sceneColor("lineLabelColor")),
      vectorColor(sceneColor("lineVectorColor")) {
    setDataVariance(osg::Object::DYNAMIC);
    for (int slot = 0; slot < TRVAXX_LINE_COUNT; ++slot) {
        osg::ref_ptr<LineNode> node = new LineNode(slot);
        node->setAllChildrenOff();
        addChild(node.get());
    }
    current.count = 0;
}

LineNode* LineList::getNode(int slot) const {
    return slot >= 0 && slot < int(getNumChildren())
               ? static_cast<LineNode*>(const_cast<osg::Node*>(getChild(slot)))
               : nullptr;
}

const DetectedLine_TRVAXX* LineList::lineInSlot(int slot) const {
    if (slot < 0 || slot >= std::min<int>(current.count, TRVAXX_LINE_COUNT))
        return nullptr;
    const DetectedLine_TRVAXX& l = current.lines[size_t(slot)];
    return present(l) ? &l : nullptr;
}

void LineList::update(const DetectedLineData_TRVAXX& lines) {
    current = lines;
    recolor();
}

void LineList::recolor() {
    for (int slot = 0; slot < TRVAXX_LINE_COUNT; ++slot) {
        LineNode* node = getNode(slot);
        const DetectedLine_TRVAXX* l = lineInSlot(slot);
        if (!l) {
            node->setAllChildrenOff();
            continue;
        }
        const osg::Vec4 c = l->id == selectedId    ? selectedColor
                            : l->id == mouseOverId ? mouseOverColor
                                                   : color;
        node->update(*l, current.ref_Point, c, labelColor, vectorColor);
        node->setAllChildrenOn();
    }
}

void LineList::selectLine(int id) {
    if (id == selectedId)
        return;
    selectedId = id;
    recolor();
    if (id >= 0)
        emit lineSelected(id);
    else
        emit lineDeselected();
}

void LineList::setMouseOverLine(int id) {
    if (id == mouseOverId)
        return;
    mouseOverId = id;
    recolor();
}

LineGuidanceVisualization_TRVAXX::LineGuidanceVisualization_TRVAXX()
    : content(new osg::Switch), lineList(new LineList), directionSwitch(new osg::Switch),
      drivingDirectionVector(new LineGeometry(GL_LINES, 3.0f)),
      referencePoint(new LineGeometry(GL_LINES, 2.0f)), crossSection(new PolygonGeometry) {
    content->addChild(lineList.get());
    directionSwitch->addChild(drivingDirectionVector.get());
    directionSwitch->addChild(referencePoint.get());
    content->addChild(directionSwitch.get());
    content->addChild(crossSection.get(), false);
    addChild(content.get());
    const osg::Vec4 c = sceneColor("lineColor");
    crossSection->setColor(osg::Vec4(c.r(), c.g(), c.b(), 0.25f));
    drivingDirectionVector->setColor(sceneColor("lineVectorColor"));
    referencePoint->setColor(sceneColor("lineLabelColor"));
}

void LineGuidanceVisualization_TRVAXX::setChildValue(osg::Node* node, bool on) {
    content->setChildValue(node, on);
}

void LineGuidanceVisualization_TRVAXX::update(const DetectedLineData_TRVAXX& lines) {
    lineList->update(lines);
    const osg::Vec3 ref(lines.ref_Point[0], lines.ref_Point[1], lines.ref_Point[2]);
    const osg::Vec3 tip = ref + osg::Vec3(2, 0, 0);
    drivingDirectionVector->setPoints(
        {ref, tip, tip, tip + osg::Vec3(-0.3f, 0.15f, 0), tip, tip + osg::Vec3(-0.3f, -0.15f, 0)});
    const float r = 0.2f;
    referencePoint->setPoints({ref - osg::Vec3(r, 0, 0), ref + osg::Vec3(r, 0, 0), ref - osg::Vec3(0, r, 0),
                               ref + osg::Vec3(0, r, 0), ref - osg::Vec3(0, 0, r), ref + osg::Vec3(0, 0, r)});
    crossSection->setPoints({{ref.x(), -3, 0}, {ref.x(), 3, 0}, {ref.x(), 3, 2}, {ref.x(), -3, 2}});
}
