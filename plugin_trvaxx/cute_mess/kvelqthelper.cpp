#include "cute_mess/kvelqthelper.h"

#include "cute_mess/cutemesslog.h"

#include <QDebug>
#include <QVariantList>
#include <QVariantMap>

#include <string>
#include <vector>

namespace {

using kvel::ITypePtr;

std::string toStd(const QByteArray& path) {
    return std::string(path.constData(), size_t(path.size()));
}

// The spelled-out path of path (the root's own name for an empty path).
QByteArray spelled(const ITypePtr& root, const QByteArray& path) {
    return path.isEmpty() ? QByteArray::fromStdString(root->name()) : path;
}

// The accessor of a non-structure path, resolved before anything is allocated: the element count
// comes from the description, and the interpreter refuses ranges that do not lie inside the root.
kvel::AccessorPtr checkedAccessor(const ITypePtr& root, const std::string& path, int code) {
    return kvel::getAccessor(root, path, kvel::TypeCode(code));
}

// Element type of the variants made from a native element (int for the narrow integers).
template <class T> struct VariantOf { using type = T; };
template <> struct VariantOf<int8_t> { using type = int; };
template <> struct VariantOf<int16_t> { using type = int; };
template <> struct VariantOf<uint8_t> { using type = int; };
template <> struct VariantOf<uint16_t> { using type = int; };
template <> struct VariantOf<int32_t> { using type = int; };
template <> struct VariantOf<uint32_t> { using type = uint; };
template <> struct VariantOf<int64_t> { using type = qlonglong; };
template <> struct VariantOf<uint64_t> { using type = qulonglong; };

template <class T>
QVariant readNative(const kvel::AccessorPtr& accessor, bool scalar, const char* data, size_t length) {
    using V = typename VariantOf<T>::type;
    if (scalar) {
        T value{};
        kvel::read<T>(accessor, &value, 1, data, length);
        return QVariant::fromValue(V(value));
    }
    const uint32_t count = accessor->elementCount;
    std::vector<T> values(count);
    kvel::read<T>(accessor, values.data(), count, data, length);
    QVariantList list;
    list.reserve(qsizetype(count));
    for (const T& value : values)
        list.append(QVariant::fromValue(V(value)));
    return list;
}

template <class T>
void writeNative(const kvel::AccessorPtr& accessor, bool scalar, const QVariant& value, QByteArray& data) {
    if (scalar) {
        const T native = qvariant_cast<T>(value);
        kvel::write<T>(accessor, &native, 1, data.data(), size_t(data.size()));
        return;
    }
    const QVariantList list = value.toList();
    if (uint64_t(list.size()) != accessor->elementCount) // the interpreter's count error, before copying
        throw kvel::InterpretError(__FILE__, __LINE__, kvel::InterpretError::Unknown);
    std::vector<T> natives;
    natives.reserve(size_t(list.size()));
    for (const QVariant& item : list)
        natives.push_back(qvariant_cast<T>(item));
    kvel::write<T>(accessor, natives.data(), uint32_t(natives.size()), data.data(), size_t(data.size()));
}

// Checked before anything is allocated for the values: the element count comes from the
// description, and only a block of the root's size can hold them.
void checkBlockSize(const ITypePtr& root, qsizetype length) {
    if (length < 0 || uint64_t(length) != root->size())
        throw kvel::InterpretError(__FILE__, __LINE__, kvel::InterpretError::SizeMismatch,
                                   QString("expected %1 bytes (from kvel description), got %2 bytes")
                                       .arg(root->size())
                                       .arg(length)
                                       .toStdString());
}

} // namespace

QVariant KVelQtHelper::read(const ITypePtr& root, const QByteArray& data, const QByteArray& path) {
    return read(root, data.constData(), int(data.size()), path);
}

QVariant KVelQtHelper::read(const ITypePtr& root, const char* data, int length, const QByteArray& path) {
    const std::string p = toStd(path);
    const kvel::PathType type = kvel::typeOfPath(root, p);
    checkBlockSize(root, length);
    const bool scalar = type.uncoveredDimensions.empty();
    const size_t size = length < 0 ? 0 : size_t(length);
    if (type.code < kvel::TC_INT8 || type.code > kvel::TC_STRUCT) {
        qCDebug(lcCuteMess) << "Unexpected Type:" << type.code;
        return QVariant();
    }
    const kvel::AccessorPtr accessor =
        type.code == kvel::TC_STRUCT ? kvel::AccessorPtr() : checkedAccessor(root, p, type.code);

    if ((type.code == kvel::TC_INT8 || type.code == kvel::TC_UINT8) && !scalar) {
        QByteArray bytes(qsizetype(accessor->elementCount), '\0');
        if (type.code == kvel::TC_INT8)
            kvel::read<int8_t>(accessor, reinterpret_cast<int8_t*>(bytes.data()), accessor->elementCount,
                               data, size);
        else
            kvel::read<uint8_t>(accessor, reinterpret_cast<uint8_t*>(bytes.data()), accessor->elementCount,
                                data, size);
        return bytes;
    }
    switch (type.code) {
    case kvel::TC_INT8:
        return readNative<int8_t>(accessor, scalar, data, size);
    case kvel::TC_INT16:
        return readNative<int16_t>(accessor, scalar, data, size);
    case kvel::TC_INT32:
        return readNative<int32_t>(accessor, scalar, data, size);
    case kvel::TC_INT64:
        return readNative<int64_t>(accessor, scalar, data, size);
    case kvel::TC_UINT8:
        return readNative<uint8_t>(accessor, scalar, data, size);
    case kvel::TC_UINT16:
        return readNative<uint16_t>(accessor, scalar, data, size);
    case kvel::TC_UINT32:
        return readNative<uint32_t>(accessor, scalar, data, size);
    case kvel::TC_UINT64:
        return readNative<uint64_t>(accessor, scalar, data, size);
    case kvel::TC_FLOAT:
        return readNative<float>(accessor, scalar, data, size);
    case kvel::TC_DOUBLE:
        return readNative<double>(accessor, scalar, data, size);
    case kvel::TC_STRUCT: {
        if (!scalar) { // array of structures: one map per element
            QVariantList list;
            for (const std::string& element : kvel::memberPaths(root, p))
                list.append(read(root, data, length, QByteArray::fromStdString(element)));
            return list;
        }
        const QByteArray prefix = spelled(root, path) + '.';
        QVariantMap map;
        for (const std::string& member : kvel::memberPaths(root, p)) {
            const QByteArray memberPath = QByteArray::fromStdString(member);
            map.insert(QString::fromUtf8(memberPath.mid(prefix.size())),
                       read(root, data, length, memberPath));
        }
        return map;
    }
    }
    return QVariant();
}

bool KVelQtHelper::write(const ITypePtr& root, QByteArray& data, const QByteArray& path,
                         const QVariant& value) {
    const std::string p = toStd(path);
    const kvel::PathType type = kvel::typeOfPath(root, p);
    checkBlockSize(root, qsizetype(data.size()));
    const bool scalar = type.uncoveredDimensions.empty();
    if (type.code < kvel::TC_INT8 || type.code > kvel::TC_STRUCT) {
        qCDebug(lcCuteMess) << "Unexpected Type:" << type.code;
        return false;
    }
    const kvel::AccessorPtr accessor =
        type.code == kvel::TC_STRUCT ? kvel::AccessorPtr() : checkedAccessor(root, p, type.code);

    if ((type.code == kvel::TC_INT8 || type.code == kvel::TC_UINT8) && !scalar &&
        value.typeId() == QMetaType::QByteArray) {
        const QByteArray bytes = value.toByteArray();
        const uint32_t count = uint32_t(bytes.size());
        if (type.code == kvel::TC_INT8)
            kvel::write<int8_t>(accessor, reinterpret_cast<const int8_t*>(bytes.constData()), count,
                                data.data(), size_t(data.size()));
        else
            kvel::write<uint8_t>(accessor, reinterpret_cast<const uint8_t*>(bytes.constData()), count,
                                 data.data(), size_t(data.size()));
        return true;
    }
    switch (type.code) {
    case kvel::TC_INT8:
        writeNative<int8_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_INT16:
        writeNative<int16_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_INT32:
        writeNative<int32_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_INT64:
        writeNative<int64_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_UINT8:
        writeNative<uint8_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_UINT16:
        writeNative<uint16_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_UINT32:
        writeNative<uint32_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_UINT64:
        writeNative<uint64_t>(accessor, scalar, value, data);
        return true;
    case kvel::TC_FLOAT:
        writeNative<float>(accessor, scalar, value, data);
        return true;
    case kvel::TC_DOUBLE:
        writeNative<double>(accessor, scalar, value, data);
        return true;
    case kvel::TC_STRUCT: {
        if (!scalar) { // array of structures: a list of maps in element order
            const QVariantList list = value.toList();
            const std::vector<std::string> elements = kvel::memberPaths(root, p);
            if (size_t(list.size()) != elements.size()) {
                qCDebug(lcCuteMess).noquote() << "KVelQtHelper::write: expected" << elements.size()
                                              << "structures for \"" << path << "\", got" << list.size();
                return false;
            }
            for (size_t i = 0; i < elements.size(); ++i)
                if (!write(root, data, QByteArray::fromStdString(elements[i]), list[qsizetype(i)]))
                    return false;
            return true;
        }
        const QVariantMap map = value.toMap();
        if (map.isEmpty()) {
            qCDebug(lcCuteMess).noquote()
                << "Called KVelQtHelper::write on a struct with a empty/none-map qvariant, this is "
                   "probably not a good idea"
                << ("\"" + path + "\"");
            return true;
        }
        const QByteArray prefix = spelled(root, path) + '.';
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            if (!write(root, data, prefix + it.key().toUtf8(), it.value()))
                return false;
        return true;
    }
    }
    return false;
}
