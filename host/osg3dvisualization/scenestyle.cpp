#include "osg3dvisualization/scenestyle.h"

#include "common/styleproxy.h"
#include "osg3dvisualization/osg3dlog.h"

#include <osgText/Font>

#include <QHash>

#include <fontconfig/fontconfig.h>

osg::Vec4 toSceneColor(const QColor& color) {
    return osg::Vec4(float(color.redF()), float(color.greenF()), float(color.blueF()), float(color.alphaF()));
}

osg::Vec4 sceneColor(const char* name) {
    return toSceneColor(StyleProxy::getProperty(name).value<QColor>());
}

QString findFontFile(const QString& family) {
    // A fontconfig pattern ("DejaVu Sans", "DejaVu Sans:bold").
    const QString pattern = family;
    if (!FcInit())
        return QString();
    FcPattern* query = FcNameParse(reinterpret_cast<const FcChar8*>(pattern.toUtf8().constData()));
    if (!query)
        return QString();
    FcConfigSubstitute(nullptr, query, FcMatchPattern);
    FcDefaultSubstitute(query);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, query, &result);
    QString path;
    FcChar8* file = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
        path = QString::fromUtf8(reinterpret_cast<const char*>(file));
    if (match)
        FcPatternDestroy(match);
    FcPatternDestroy(query);
    return path;
}

osg::ref_ptr<osgText::Font> sceneFont(const char* name) {
    static QHash<QString, osg::ref_ptr<osgText::Font>> fonts;
    const QString family = StyleProxy::getProperty(name, QStringLiteral("DejaVu Sans")).toString();
    auto it = fonts.constFind(family);
    if (it != fonts.constEnd())
        return *it;
    const QString file = findFontFile(family);
    osg::ref_ptr<osgText::Font> font;
    if (!file.isEmpty())
        font = osgText::readRefFontFile(file.toStdString());
    if (!font)
        qCWarning(lcOsg3d) << "No font file for the scene font" << family << "; using built-in glyphs";
    fonts.insert(family, font);
    return font;
}
