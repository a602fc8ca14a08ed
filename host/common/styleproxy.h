#pragma once

#include <QHash>
#include <QString>
#include <QVariant>

// Named style properties of the host's look (colours, sizes, style sheets of form parts). Every
// known property has a built-in default; a style file ("key = value" lines in INI form, colours
// as "#rrggbb" or "#aarrggbb") overrides them. Unknown names give an invalid QVariant and one
// warning in the log. Thread-safe.
class StyleProxy {
public:
    static QVariant getProperty(const char* name);
    // The property converted: colours to QColor by QVariant::value<QColor>(), sizes toInt().
    static QVariant getProperty(const char* name, const QVariant& fallback);
    static bool hasProperty(const char* name);
    static void setProperty(const char* name, const QVariant& value);
    // Loads a style file; returns false (and logs why) when it cannot be read or holds no valid
    // entry. Lines it cannot use are logged and skipped.
    static bool loadStyleFile(const QString& path);
    // Back to the built-in defaults.
    static void resetToDefaults();
    static QStringList propertyNames();
};
