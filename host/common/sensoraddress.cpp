#include "common/sensoraddress.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <mutex>

namespace {
const QString ROOT = QStringLiteral("sensorAddress");
const QString FORMAT_VERSION = QStringLiteral("1");
const QString BASE64 = QStringLiteral("base64");

// XML 1.0 cannot carry control characters (a reader refuses even escaped ones), lone surrogates
// or U+FFFE/U+FFFF; a reader also folds line ends. Such texts are written as base64.
bool isXmlSafe(const QString& text) {
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || c.isSurrogate() || u == 0xFFFE || u == 0xFFFF)
            return false;
    }
    return true;
}

bool isPrintableAscii(const QByteArray& bytes) {
    for (char c : bytes)
        if (c < 0x20 || c > 0x7e)
            return false;
    return true;
}

QByteArray utf16Bytes(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xff));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

bool fromUtf16Bytes(const QByteArray& bytes, QString* text) {
    if (bytes.size() % 2 != 0)
        return false;
    QString out;
    out.reserve(bytes.size() / 2);
    for (int i = 0; i < bytes.size(); i += 2)
        out.append(QChar(
            static_cast<ushort>(static_cast<uchar>(bytes[i]) | (static_cast<uchar>(bytes[i + 1]) << 8))));
    *text = out;
    return true;
}

bool decodeBase64(const QString& text, QByteArray* out) {
    const auto result =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return false;
    *out = *result;
    return true;
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}
} // namespace

// Queued string-based connections carry addresses under their type name ("SensorAdrSP_t").
[[maybe_unused]] static const int sensorAdrSPTypeId = qRegisterMetaType<SensorAdrSP_t>("SensorAdrSP_t");

SensorAddress::SensorAddress(const QString& name, const QByteArray& sensorTypeId)
    : name(name), sensorTypeId(sensorTypeId) {}

SensorAddress::~SensorAddress() = default;

void SensorAddress::writeTextField(QXmlStreamWriter& writer, const QString& field, const QString& text) {
    writer.writeStartElement(field);
    if (isXmlSafe(text)) {
        writer.writeCharacters(text);
    } else {
        writer.writeAttribute(QStringLiteral("encoding"), BASE64);
        writer.writeCharacters(QString::fromLatin1(utf16Bytes(text).toBase64()));
    }
    writer.writeEndElement();
}

void SensorAddress::writeXml(QXmlStreamWriter& writer) const {
    writer.writeStartElement(ROOT);
    writer.writeAttribute(QStringLiteral("kind"), getKind());
    writer.writeAttribute(QStringLiteral("version"), FORMAT_VERSION);
    writeTextField(writer, QStringLiteral("name"), name);
    writer.writeStartElement(QStringLiteral("sensorTypeId"));
    if (isPrintableAscii(sensorTypeId)) {
        writer.writeCharacters(QString::fromLatin1(sensorTypeId));
    } else {
        writer.writeAttribute(QStringLiteral("encoding"), BASE64);
        writer.writeCharacters(QString::fromLatin1(sensorTypeId.toBase64()));
    }
    writer.writeEndElement();
    writeFields(writer);
    writer.writeEndElement();
}

QByteArray SensorAddress::serialize() const {
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writeXml(writer);
    writer.writeEndDocument();
    return xml;
}

bool SensorAddress::readXml(QXmlStreamReader& reader, QString* error) {
    if (!reader.isStartElement() || reader.name() != ROOT) {
        setError(error, QStringLiteral("expected the element \"%1\"").arg(ROOT));
        return false;
    }
    const QXmlStreamAttributes rootAttributes = reader.attributes();
    if (rootAttributes.value(QStringLiteral("kind")) != getKind()) {
        setError(error, QStringLiteral("the address kind \"%1\" is not \"%2\"")
                            .arg(rootAttributes.value(QStringLiteral("kind")).toString(), getKind()));
        return false;
    }
    if (rootAttributes.value(QStringLiteral("version")) != FORMAT_VERSION) {
        setError(error, QStringLiteral("unsupported address format version \"%1\"")
                            .arg(rootAttributes.value(QStringLiteral("version")).toString()));
        return false;
    }

    // Collect everything first, so a bad document leaves this address unchanged.
    QString newName;
    QByteArray newTypeId;
    QList<QPair<QString, QString>> fields;
    while (reader.readNextStartElement()) {
        const QString field = reader.name().toString();
        const bool base64 = reader.attributes().value(QStringLiteral("encoding")) == BASE64;
        const QString text = reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        if (reader.hasError())
            break;
        if (field == QLatin1String("sensorTypeId")) {
            if (!base64)
                newTypeId = text.toLatin1();
            else if (!decodeBase64(text, &newTypeId)) {
                setError(error, QStringLiteral("the field sensorTypeId is not valid base64"));
                return false;
            }
            continue;
        }
        QString value = text;
        if (base64) {
            QByteArray bytes;
            if (!decodeBase64(text, &bytes) || !fromUtf16Bytes(bytes, &value)) {
                setError(error, QStringLiteral("the field %1 is not valid base64 text").arg(field));
                return false;
            }
        }
        if (field == QLatin1String("name"))
            newName = value;
        else
            fields.append({field, value});
    }
    if (reader.hasError()) {
        setError(error, QStringLiteral("%1 (line %2, column %3)")
                            .arg(reader.errorString())
                            .arg(reader.lineNumber())
                            .arg(reader.columnNumber()));
        return false;
    }

    // Validate the derived fields on a copy, then apply them here.
    SensorAdrSP_t trial = clone();
    trial->resetFields();
    for (const auto& f : std::as_const(fields))
        if (!trial->readField(f.first, f.second, error))
            return false;
    name = newName;
    sensorTypeId = newTypeId;
    resetFields();
    for (const auto& f : std::as_const(fields))
        readField(f.first, f.second, nullptr);
    return true;
}

bool SensorAddress::deserialize(const QByteArray& xml, QString* error) {
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement()) {
        setError(error, reader.hasError() ? reader.errorString() : QStringLiteral("the document is empty"));
        return false;
    }
    if (!readXml(reader, error))
        return false;
    // Nothing but comments or white space may follow the address.
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() || (reader.isCharacters() && !reader.isWhitespace())) {
            setError(error, QStringLiteral("unexpected content after the address"));
            return false;
        }
    }
    if (reader.hasError() && reader.error() != QXmlStreamReader::PrematureEndOfDocumentError) {
        setError(error, reader.errorString());
        return false;
    }
    return true;
}

namespace {
struct KindRegistry {
    std::mutex mutex;
    QHash<QString, SensorAddress::Factory> factories;
};

KindRegistry& kindRegistry() {
    static KindRegistry registry;
    return registry;
}
} // namespace

void SensorAddress::registerKind(const QString& kind, Factory factory) {
    KindRegistry& registry = kindRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.factories.insert(kind, std::move(factory));
}

SensorAdrSP_t SensorAddress::createKind(const QString& kind) {
    KindRegistry& registry = kindRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const auto it = registry.factories.constFind(kind);
    return it == registry.factories.constEnd() ? SensorAdrSP_t() : (*it)();
}

SensorAdrSP_t SensorAddress::fromXml(const QByteArray& xml, QString* error) {
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement()) {
        setError(error, reader.hasError() ? reader.errorString() : QStringLiteral("the document is empty"));
        return {};
    }
    const QString kind = reader.attributes().value(QStringLiteral("kind")).toString();
    const SensorAdrSP_t address = createKind(kind);
    if (!address) {
        setError(error, QStringLiteral("unknown address kind \"%1\"").arg(kind));
        return {};
    }
    if (!address->deserialize(xml, error))
        return {};
    return address;
}
