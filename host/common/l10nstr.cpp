#include "common/l10nstr.h"

#include <QCoreApplication>

L10nStr::L10nStr(const char* context, const char* sourceText)
    : contextName(QString::fromLatin1(context)), sourceText(QString::fromUtf8(sourceText)) {}

L10nStr L10nStr::tr(const char* sourceText, const char* context) {
    return L10nStr(context, sourceText);
}

L10nStr L10nStr::fromPlain(const QString& text) {
    L10nStr s;
    s.sourceText = text;
    s.plain = true;
    return s;
}

QString L10nStr::translated() const {
    if (plain || sourceText.isEmpty())
        return sourceText;
    return QCoreApplication::translate(contextName.toLatin1().constData(), sourceText.toUtf8().constData());
}
