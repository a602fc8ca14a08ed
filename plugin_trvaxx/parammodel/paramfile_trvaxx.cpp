#include "parammodel/paramfile_trvaxx.h"

#include <QIODevice>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <limits>

namespace ParamFile_TRVAXX {

namespace {

const QString ROOT = QStringLiteral("sensor_param");
const QString PARAM = QStringLiteral("param");
const QString TYPE_LIST = QStringLiteral("qvariantlist");
const QString TYPE_BYTES = QStringLiteral("qbytearray");
const QString TYPE_VALUE = QStringLiteral("qvariant");
const QChar SEPARATOR = QLatin1Char('|');

// The items of a "1|2|3|" text; the empty text after the final separator is not an item.
QStringList itemsOf(const QString& text) {
    QStringList items = text.split(SEPARATOR);
    if (!items.isEmpty() && items.last().isEmpty())
        items.removeLast();
    return items;
}

QVariant convertScalar(const QString& text, QMetaType type) {
    bool ok = false;
    QVariant value;
    switch (type.id()) {
    case QMetaType::Bool:
        if (text == QLatin1String("true") || text == QLatin1String("false"))
            return QVariant(text == QLatin1String("true"));
        return QVariant();
    case QMetaType::Int:
        value = text.toInt(&ok);
        break;
    case QMetaType::UInt:
        value = text.toUInt(&ok);
        break;
    case QMetaType::LongLong:
        value = text.toLongLong(&ok);
        break;
    case QMetaType::ULongLong:
        value = text.toULongLong(&ok);
        break;
    case QMetaType::Double: {
        const double number = text.toDouble(&ok);
        ok = ok && std::isfinite(number);
        value = number;
        break;
    }
    case QMetaType::Float: {
        const double number = text.toDouble(&ok);
        ok = ok && std::isfinite(number) && std::fabs(number) <= std::numeric_limits<float>::max();
        value = float(number);
        break;
    }
    case QMetaType::QString:
        return QVariant(text);
    default:
        return QVariant();
    }
    return ok ? value : QVariant();
}

} // namespace

Entry entryFor(const QString& name, const QVariant& value) {
    Entry entry{name, TYPE_VALUE, QString()};
    switch (value.typeId()) {
    case QMetaType::QVariantList:
        entry.type = TYPE_LIST;
        for (const QVariant& item : value.toList())
            entry.value += item.toString() + SEPARATOR;
        break;
    case QMetaType::QByteArray:
        entry.type = TYPE_BYTES;
        for (const char byte : value.toByteArray())
            entry.value += QString::number(qint8(byte)) + SEPARATOR;
        break;
    default:
        entry.value = value.toString();
    }
    return entry;
}

void write(QIODevice& device, const Header& header, const QList<Entry>& params) {
    QXmlStreamWriter writer(&device);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeDTD(QStringLiteral("<!DOCTYPE sensor_param>"));
    writer.writeStartElement(ROOT);
    writer.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    writer.writeAttribute(QStringLiteral("article_number"), header.articleNumber);
    writer.writeAttribute(QStringLiteral("sensor_version"), header.sensorVersion);
    writer.writeAttribute(QStringLiteral("sensor_variant"), header.sensorVariant);
    for (const Entry& entry : params) {
        writer.writeStartElement(PARAM);
        writer.writeAttribute(QStringLiteral("name"), entry.name);
        writer.writeAttribute(QStringLiteral("type"), entry.type);
        writer.writeAttribute(QStringLiteral("value"), entry.value);
        writer.writeEndElement();
    }
    writer.writeEndDocument();
}

bool read(const QByteArray& data, Content& content, ParseError& error) {
    content = Content();
    QXmlStreamReader reader(data);
    if (data.size() > MAX_FILE_SIZE)
        reader.raiseError(QStringLiteral("file larger than %1 bytes").arg(MAX_FILE_SIZE));
    while (!reader.atEnd() && !reader.isStartElement())
        reader.readNext();
    if (!reader.hasError() && reader.isStartElement() && reader.name() != ROOT)
        reader.raiseError(QStringLiteral("the root element is not sensor_param"));
    const bool rootSeen = !reader.hasError() && reader.isStartElement();
    if (rootSeen) {
        const QXmlStreamAttributes root = reader.attributes();
        content.header = {root.value(QLatin1String("article_number")).toString(),
                          root.value(QLatin1String("sensor_version")).toString(),
                          root.value(QLatin1String("sensor_variant")).toString()};
        while (reader.readNextStartElement()) {
            if (reader.name() == PARAM) {
                if (content.params.size() >= MAX_PARAMS) {
                    reader.raiseError(QStringLiteral("more than %1 parameters").arg(MAX_PARAMS));
                    break;
                }
                const QXmlStreamAttributes a = reader.attributes();
                content.params.append({a.value(QLatin1String("name")).toString(),
                                       a.value(QLatin1String("type")).toString(),
                                       a.value(QLatin1String("value")).toString()});
            }
            reader.skipCurrentElement();
        }
    }
    // The rest of the document must be well-formed as well.
    while (!reader.atEnd())
        reader.readNext();
    if (!reader.hasError() && !rootSeen)
        reader.raiseError(QStringLiteral("no sensor_param element"));
    if (!reader.hasError())
        return true;
    error = {reader.errorString(), reader.lineNumber(), reader.columnNumber()};
    content = Content();
    return false;
}

QVariant convert(const QString& type, const QString& text, const QVariant& current) {
    const int held = current.typeId();
    if (type == TYPE_LIST) {
        if (held != QMetaType::QVariantList)
            return QVariant();
        const QVariantList heldItems = current.toList();
        const QMetaType itemType =
            heldItems.isEmpty() ? QMetaType::fromType<QString>() : heldItems.first().metaType();
        QVariantList items;
        for (const QString& item : itemsOf(text)) {
            const QVariant value = convertScalar(item, itemType);
            if (!value.isValid())
                return QVariant();
            items.append(value);
        }
        return items;
    }
    if (type == TYPE_BYTES) {
        if (held != QMetaType::QByteArray)
            return QVariant();
        QByteArray bytes;
        for (const QString& item : itemsOf(text)) {
            bool ok = false;
            const int number = item.toInt(&ok);
            if (!ok || number < -128 || number > 255)
                return QVariant();
            bytes.append(char(number));
        }
        return bytes;
    }
    if (held == QMetaType::QVariantList || held == QMetaType::QByteArray)
        return QVariant();
    return convertScalar(text, current.metaType());
}

} // namespace ParamFile_TRVAXX
