#pragma once

#include <QLoggingCategory>

// Log category of the Qt value bridge: "trvaxx.cute_mess".
Q_DECLARE_LOGGING_CATEGORY(lcCuteMess)
