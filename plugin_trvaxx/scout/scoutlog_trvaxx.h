#pragma once

#include <QLoggingCategory>

// Log category of the scouts (automatic search and manual connection): "trvaxx.scout".
Q_DECLARE_LOGGING_CATEGORY(lcScout)
