#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

class QIODevice;

// The "sensor_param" parameter file (version 2.0): an XML declaration, the document type line,
// the root element with the sensor's identification and one empty "param" element per parameter
// with the attributes name, type and value, in this order. Only the format lives here; what the
// values mean is the parameter device's business.
namespace ParamFile_TRVAXX {

// Files above this size and documents with more "param" elements are refused before their
// values are looked at: a whole parameter set is a few kilobytes and 143 elements.
constexpr qint64 MAX_FILE_SIZE = 1024 * 1024;
constexpr int MAX_PARAMS = 4096;

struct Header {
    QString articleNumber;
    QString sensorVersion;
    QString sensorVariant;
};

// One "param" element.
struct Entry {
    QString name;
    QString type;
    QString value;
};

struct Content {
    Header header;
    QList<Entry> params;
};

// The element of one value: type "qvariantlist" with each item's text followed by "|",
// "qbytearray" with each byte as a signed number followed by "|", else "qvariant" with the value's
// text.
Entry entryFor(const QString& name, const QVariant& value);

// Writes the whole document (UTF-8, indented).
void write(QIODevice& device, const Header& header, const QList<Entry>& params);

// Parses a whole document. False with the reader's error text and its position when the data is
// not well-formed XML, its root is not "sensor_param" or it exceeds the limits above.
struct ParseError {
    QString text;
    qint64 line = 0;
    qint64 column = 0;
};
bool read(const QByteArray& data, Content& content, ParseError& error);

// The text of an entry as a value of the type `current` holds (int, double, bool, text, a list of
// such, a byte array); an invalid QVariant when the text does not fit that type or its range, or
// the entry's type does not match the held value's kind.
QVariant convert(const QString& type, const QString& text, const QVariant& current);

} // namespace ParamFile_TRVAXX
