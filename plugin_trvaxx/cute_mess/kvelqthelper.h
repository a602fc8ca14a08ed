#pragma once

// Bridge between raw data blocks described by kvel and Qt variants.
//
// Elements read as: int8/uint8 arrays -> QByteArray; other arrays -> QVariantList of int (int8,
// int16, int32, uint8, uint16), uint (uint32), qlonglong, qulonglong, float or double; scalars the
// same element types; a structure -> QVariantMap keyed by member name. Multi-dimensional arrays
// are flattened in row-major order.
//
// An array of structures (a structure member with extents, or a path addressing a whole array of
// structures) reads as a QVariantList of QVariantMaps, one map per element in row-major order,
// under the member's name; writing takes the same list.
//
// No state; interpreter errors (kvel::InterpretError) propagate to the caller.

#include "kvel/kvel_interpret.h"

#include <QByteArray>
#include <QVariant>
#include <QVector>

class KVelQtHelper {
public:
    // data must hold the whole block (its length equal to the root's size).
    static QVariant read(const kvel::ITypePtr& root, const QByteArray& data, const QByteArray& path);
    // Same over a raw buffer, without copying it.
    static QVariant read(const kvel::ITypePtr& root, const char* data, int length, const QByteArray& path);
    // Writes value at path into data (in place). False when a member could not be written (an
    // unexpected type or an empty map for a structure); a structure map is written key by key in
    // key order and stops at the first failure. An empty map for a structure writes nothing, logs a
    // debug line and counts as success.
    static bool write(const kvel::ITypePtr& root, QByteArray& data, const QByteArray& path,
                      const QVariant& value);
};
