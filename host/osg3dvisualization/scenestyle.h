#pragma once

#include <osg/Vec4>
#include <osg/ref_ptr>
#include <osgText/Font>

#include <QColor>
#include <QString>

// Style properties turned into what the scene graph uses.

// A colour as red, green, blue and alpha fractions.
osg::Vec4 toSceneColor(const QColor& color);
// The colour style property `name` (its built-in default unless a style file overrides it).
osg::Vec4 sceneColor(const char* name);

// The font file that fontconfig picks for the pattern `family` ("DejaVu Sans"); empty when
// fontconfig finds none.
QString findFontFile(const QString& family);
// The scene font of style property `name`, loaded once per file; null when no font file is found
// (osgText then falls back to its built-in glyphs). GUI thread.
osg::ref_ptr<osgText::Font> sceneFont(const char* name = "sceneFont");
