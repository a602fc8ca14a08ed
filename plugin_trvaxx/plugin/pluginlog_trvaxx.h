#pragma once

#include <QLoggingCategory>

// Log category of the plug-in object and its sensor type: "trvaxx.plugin".
Q_DECLARE_LOGGING_CATEGORY(lcPlugin)
