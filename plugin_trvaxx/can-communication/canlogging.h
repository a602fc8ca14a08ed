#pragma once
// The CAN area's logging category ("trvaxx.can"): device loading, the bus thread, diagnosis.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcCan)
