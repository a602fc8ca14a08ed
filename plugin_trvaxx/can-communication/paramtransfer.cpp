#include "can-communication/paramtransfer.h"

#include "can-communication/ReadParam.h"
#include "can-communication/canbuscontroller.h"
#include "can-communication/canlogging.h"
#include "can-communication/paramtable.h"
#include "can-communication/patch_crc_param.h"
#include "cute_mess/kvelqthelper.h"
#include "kvel/kvel_interpret.h"

#include <QDateTime>
#include <QFile>
#include <QVariantList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Reads a description resource of at most ParamTransfer::kMaxSize bytes.
bool readDescription(const QString& name, const char* what, QByteArray& out) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcCan).noquote() << QStringLiteral("Can't open %1 kvd file: ").arg(QLatin1String(what)) +
                                        name;
        return false;
    }
    out = file.read(ParamTransfer::kMaxSize + 1);
    if (out.size() > ParamTransfer::kMaxSize) {
        qCDebug(lcCan).noquote() << name << "is larger than" << ParamTransfer::kMaxSize << "bytes";
        return false;
    }
    return true;
}

// One element as the user reads it: floats by their shortest decimal, everything else as read.
QVariant userElement(const QVariant& v) {
    return v.typeId() == QMetaType::Float ? QVariant(ParamTable::shortestDouble(v.toFloat())) : v;
}

// The value the bridge gives, in the types a user expects.
QVariant userValue(int id, int typeCode, const QVariant& v) {
    if (v.typeId() == QMetaType::QByteArray) { // int8 and uint8 arrays
        const QByteArray bytes = v.toByteArray();
        if (ParamTable::isAddress(id) && bytes.size() == 4)
            return QStringLiteral("%1.%2.%3.%4")
                .arg(uint8_t(bytes[0]))
                .arg(uint8_t(bytes[1]))
                .arg(uint8_t(bytes[2]))
                .arg(uint8_t(bytes[3]));
        QVariantList list;
        list.reserve(bytes.size());
        for (char b : bytes)
            list.append(typeCode == kvel::TC_INT8 ? int(int8_t(b)) : int(uint8_t(b)));
        return list;
    }
    if (v.typeId() == QMetaType::QVariantList) {
        QVariantList list = v.toList();
        for (QVariant& item : list)
            item = userElement(item);
        return list;
    }
    return userElement(v);
}

// Whether `value` fits a scalar member of `typeCode`: a number, and for integers a whole one
// within the member's range.
bool fitsScalar(int typeCode, const QVariant& value) {
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return false;
    struct Range {
        double min, max;
    };
    constexpr Range ranges[] = {
        {-128, 127},       {-32768, 32767}, {-2147483648.0, 2147483647.0},
        {-9.2e18, 9.2e18}, {0, 255},        {0, 65535},
        {0, 4294967295.0}, {0, 1.8e19},
    };
    if (typeCode < kvel::TC_INT8 || typeCode > kvel::TC_UINT64)
        return true; // float and double members take any finite number
    const Range r = ranges[typeCode];
    return d == std::floor(d) && d >= r.min && d <= r.max;
}

// Whether every element of an array value fits; bytes always fit a byte array.
bool fitsArray(int typeCode, const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return typeCode == kvel::TC_INT8 || typeCode == kvel::TC_UINT8;
    const QVariantList list = value.toList();
    return std::all_of(list.begin(), list.end(),
                       [&](const QVariant& item) { return fitsScalar(typeCode, item); });
}

} // namespace

bool ParamTransfer::readAll(DiagPC* diag, const QString& cameraVersion, const QString& dspKvd,
                            const QString& kpKvd) {
    dsp = Block();
    kp = Block();
    if (!diag)
        return false;
    ReadParam reader(diag);
    QByteArray dspRaw, kpRaw;
    if (reader.read("DSP_CPAR", dspRaw) != 0) {
        qCDebug(lcCan) << "Error reading DSP_CPAR";
        return false;
    }
    if (reader.read("KP_CPAR", kpRaw) != 0) {
        qCDebug(lcCan) << "Error reading KP_CPAR";
        return false;
    }
    if (cameraVersion.isEmpty()) {
        qCDebug(lcCan) << "Can't read kvd files for CAN parameters because cameraversion is invalid";
        return false;
    }
    Block newDsp{QByteArray(), QByteArray(), dspRaw};
    Block newKp{QByteArray(), QByteArray(), kpRaw};
    if (!readDescription(dspKvd, "DSP", newDsp.description) ||
        !readDescription(kpKvd, "KP", newKp.description))
        return false;
    if (dspRaw.size() > kMaxSize || kpRaw.size() > kMaxSize) {
        qCDebug(lcCan) << "parameter block larger than" << kMaxSize << "bytes:" << dspRaw.size()
                       << kpRaw.size();
        return false;
    }
    newDsp.image = dspRaw;
    newKp.image = kpRaw;
    dsp = newDsp;
    kp = newKp;
    qCDebug(lcCan) << "ReadAllParameters finished";
    return true;
}

QVariant ParamTransfer::readData(int id, const QString& variant) const {
    const QByteArray path = ParamTable::memberPath(id, variant);
    if (path.isEmpty()) {
        qCDebug(lcCan) << "Called CanBusController:readData with unhandeled valueID:" << id;
        return QVariant();
    }
    const bool isKp = ParamTable::isKpMember(path);
    const Block& block = isKp ? kp : dsp;
    const int offset = isKp ? ReadParam::kHeaderSize : 0;
    if (block.image.size() <= offset) {
        qCDebug(lcCan) << "readData" << id << "before the parameters were read";
        return QVariant();
    }
    try {
        const kvel::ITypePtr root =
            kvel::cachedParse(block.description.constData(), size_t(block.description.size()));
        const int code = kvel::typeOfPath(root, path.toStdString()).code;
        const QVariant v = KVelQtHelper::read(root, block.image.constData() + offset,
                                              int(block.image.size() - offset), path);
        return userValue(id, code, v);
    } catch (const std::exception& e) {
        qCDebug(lcCan).noquote() << "readData" << id << path << "failed:" << e.what();
        return QVariant();
    }
}

bool ParamTransfer::writeData(int id, const QVariant& value, const QString& variant) {
    const QByteArray path = ParamTable::isWritable(id) ? ParamTable::memberPath(id, variant) : QByteArray();
    if (path.isEmpty()) {
        qCDebug(lcCan) << "writeData: parameter" << id << "cannot be written";
        return false;
    }
    QVariant native = value;
    if (ParamTable::isAddress(id)) {
        uint8_t bytes[4];
        if (!CanBusController::parseIpv4(value.toString(), bytes)) {
            qCDebug(lcCan).noquote() << "writeData: not an IPv4 address:" << value.toString();
            return false;
        }
        native = QByteArray(reinterpret_cast<const char*>(bytes), 4);
    }
    const bool isKp = ParamTable::isKpMember(path);
    Block& block = isKp ? kp : dsp;
    const int offset = isKp ? ReadParam::kHeaderSize : 0;
    if (block.image.size() <= offset) {
        qCDebug(lcCan) << "writeData" << id << "before the parameters were read";
        return false;
    }
    try {
        const kvel::ITypePtr root =
            kvel::cachedParse(block.description.constData(), size_t(block.description.size()));
        const kvel::PathType type = kvel::typeOfPath(root, path.toStdString());
        const bool scalar = type.uncoveredDimensions.empty();
        if (!(scalar ? fitsScalar(type.code, native) : fitsArray(type.code, native))) {
            qCDebug(lcCan).noquote() << "writeData: value" << value.toString() << "does not fit" << path;
            return false;
        }
        QByteArray body = block.image.mid(offset);
        if (!KVelQtHelper::write(root, body, path, native))
            return false;
        block.image.replace(offset, body.size(), body);
        return true;
    } catch (const std::exception& e) {
        qCDebug(lcCan).noquote() << "writeData" << id << path << "failed:" << e.what();
        return false;
    }
}

bool ParamTransfer::imagesReady() const {
    if (kp.image.isEmpty()) {
        qCDebug(lcCan) << "m_data_size_kp is 0. Probably the .kvd file is missing.";
        return false;
    }
    if (dsp.image.isEmpty()) {
        qCDebug(lcCan) << "m_data_size_dsp is 0. Probably the .kvd file is missing.";
        return false;
    }
    return true;
}

bool ParamTransfer::writeBlockFiles(const QDir& dir, QString& dspFile, QString& kpFile) const {
    auto write = [](const QString& name, const QByteArray& header, const QByteArray& body) {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(header) != header.size() ||
            file.write(body) != body.size()) {
            qCDebug(lcCan).noquote() << "Can't open file " + name + " for writing";
            return false;
        }
        return true;
    };
    const QString dspOut = dir.filePath(QStringLiteral("DSP_CPAR-out.bin"));
    const QString kpOut = dir.filePath(QStringLiteral("KP_CPAR-out.bin"));
    dspFile = dir.filePath(QStringLiteral("DSP-crc32_patch_out.bin"));
    kpFile = dir.filePath(QStringLiteral("KP-crc32_patch_out.bin"));
    const QByteArray dspHeader =
        ParamFile::header("DSP_", "DSP_CPAR", dsp.image.size(), QDateTime::currentDateTime());
    return write(dspOut, dspHeader, dsp.image) && patch_crc_param(dspOut, dspFile) &&
           write(kpOut, QByteArray(), kp.image) && patch_crc_param(kpOut, kpFile);
}
