#pragma once
// The plug-in's one logging category, "trvaxx.candevice.socketcan".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcSocketCan)
