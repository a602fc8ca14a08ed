#pragma once

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/ref_ptr>
#include <osgText/Text>

#include <vector>

// Small editable pieces of scene geometry shared by the scene objects. Each keeps its arrays and
// changes them in place; colours are bound once for the whole piece. GUI thread only.

// An axis-aligned box: translucent faces and opaque edges in one colour.
class BoxGeometry : public osg::Geode {
public:
    BoxGeometry();
    void setBox(const osg::Vec3& center, const osg::Vec3& halfExtents);
    void setColor(const osg::Vec4& color);
    osg::Vec3 getCenter() const { return center; }
    osg::Vec3 getHalfExtents() const { return halfExtents; }
    // The edge colour (the faces use the same colour, more transparent).
    osg::Vec4 getColor() const;

private:
    osg::ref_ptr<osg::Geometry> faces, edges;
    osg::ref_ptr<osg::Vec3Array> corners;
    osg::Vec3 center, halfExtents;
};

// Line segments or a polyline in one colour.
class LineGeometry : public osg::Geode {
public:
    explicit LineGeometry(GLenum mode = GL_LINES, float width = 2.0f);
    void setPoints(const std::vector<osg::Vec3>& points);
    void setColor(const osg::Vec4& color);
    osg::Vec4 getColor() const;
    const osg::Vec3Array* getPoints() const { return points.get(); }

private:
    osg::ref_ptr<osg::Geometry> geometry;
    osg::ref_ptr<osg::Vec3Array> points;
    osg::ref_ptr<osg::DrawArrays> range;
};

// A flat translucent polygon.
class PolygonGeometry : public osg::Geode {
public:
    PolygonGeometry();
    void setPoints(const std::vector<osg::Vec3>& points);
    void setColor(const osg::Vec4& color);
    osg::Vec4 getColor() const;

private:
    osg::ref_ptr<osg::Geometry> geometry;
    osg::ref_ptr<osg::Vec3Array> points;
    osg::ref_ptr<osg::DrawArrays> range;
};

// A label that faces the screen, in the scene font.
osg::ref_ptr<osgText::Text> makeSceneText(float size, const osg::Vec4& color);

// Blending on, depth writes off: for translucent parts.
void makeTranslucent(osg::StateSet* state);
