#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>

#include <functional>

class QXmlStreamReader;
class QXmlStreamWriter;
class SensorAddress;

// Shared pointer to a sensor address: scouts produce them, connections are made from them.
typedef QSharedPointer<SensorAddress> SensorAdrSP_t;

// What the host knows about how to reach one sensor. Concrete address kinds (for example
// SensorAddressMobileCan) add their transport settings; the host stores and compares addresses
// only through this interface.
class SensorAddress {
public:
    SensorAddress() = default;
    SensorAddress(const QString& name, const QByteArray& sensorTypeId);
    virtual ~SensorAddress();

    QString getName() const { return name; }
    void setName(const QString& value) { name = value; }
    QByteArray getSensorTypeId() const { return sensorTypeId; }
    void setSensorTypeId(const QByteArray& value) { sensorTypeId = value; }

    // Kind tag written into the XML form, so deserialize can pick the right class.
    virtual QString getKind() const = 0;
    virtual SensorAdrSP_t clone() const = 0;
    virtual bool isSameSensor(const SensorAddress& other) const = 0;
    // One line for lists and logs, for example "192.168.1.1:42000, CAN J1939 239 @ 250 kbit/s".
    virtual QString getPrintableAddress() const = 0;

    // XML form: an element "sensorAddress" with attribute kind and one child per field.
    QByteArray serialize() const;
    // Parses what serialize wrote. Returns false (with a message in `error` when given) on
    // malformed XML, a foreign kind or an invalid field; this object is then left unchanged.
    bool deserialize(const QByteArray& xml, QString* error = nullptr);
    // Builds an address of the kind named in the XML; null (and `error`) on failure.
    static SensorAdrSP_t fromXml(const QByteArray& xml, QString* error = nullptr);

    // Address kinds that fromXml can build, by their kind tag. Each concrete kind registers its
    // factory once (SensorAddressKind below), so this base never names its subclasses.
    using Factory = std::function<SensorAdrSP_t()>;
    static void registerKind(const QString& kind, Factory factory);
    static SensorAdrSP_t createKind(const QString& kind);

    // Stream forms, for embedding addresses in larger documents (for example the recent-sensor
    // list in the settings). The reader must stand on the "sensorAddress" start element.
    void writeXml(QXmlStreamWriter& writer) const;
    bool readXml(QXmlStreamReader& reader, QString* error = nullptr);

protected:
    // Writes and reads the fields of the derived class (the base writes name and type id).
    virtual void writeFields(QXmlStreamWriter& writer) const = 0;
    // Called for every child element the base does not know; `text` is its decoded content.
    // Returns false with `error` set when the value is invalid; unknown fields are ignored.
    virtual bool readField(const QString& field, const QString& text, QString* error) = 0;
    // Resets the derived fields to their defaults before reading.
    virtual void resetFields() = 0;

    // Helpers for derived classes: write a text element, escaping texts that XML cannot carry.
    static void writeTextField(QXmlStreamWriter& writer, const QString& field, const QString& text);

    QString name;
    QByteArray sensorTypeId;
};

// Registers an address kind at start-up: one static instance beside each concrete class.
template <class Address> struct SensorAddressKind {
    SensorAddressKind() {
        SensorAddress::registerKind(QString::fromLatin1(Address::KIND),
                                    [] { return SensorAdrSP_t(new Address()); });
    }
};

Q_DECLARE_METATYPE(SensorAdrSP_t)
