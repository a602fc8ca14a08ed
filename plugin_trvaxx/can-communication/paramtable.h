#pragma once
// The host's parameter ids on the CAN side: which parameter-block member an id names (some depend
// on the firmware variant), which ids are addresses, which may be written, and the ids served from
// the identity and state read over diagnosis.

#include "can-communication/ReadData_with_diagnosis.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace ParamTable {

// The member path of `id` for `variant` ("DI", "OD", "LG"; a trailing space is ignored), e.g.
// "KP_CPARType.CycleTime"; empty when the id names no member for that variant.
QByteArray memberPath(int id, const QString& variant);
// Whether the member sits in the KP block (whose image starts with its 64-byte header).
bool isKpMember(const QByteArray& path);
// Ids whose member holds a dotted IPv4 address as four bytes.
bool isAddress(int id);
// Member ids that writeData takes (every member id but the ROI count).
bool isWritable(int id);
// Every member id of the table, ascending.
const QList<int>& memberIds();

// Ids answered from the identity and state values: 3 to 9 and 115 to 140.
bool isDiagnosisId(int id);
// The value of a diagnosis id; invalid for a value the sensor does not report over diagnosis
// (the supply rails other than the battery input, the front-end temperature).
QVariant diagnosisValue(int id, const SensorIdentity& identity, const SensorStateData& state);

// The double whose shortest decimal text is the float's own (0.047f gives 0.047, not
// 0.04699999839067459), so a value shows and exports as the user entered it.
double shortestDouble(float value);

} // namespace ParamTable
