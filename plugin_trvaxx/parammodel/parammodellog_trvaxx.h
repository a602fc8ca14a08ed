#pragma once

#include <QLoggingCategory>

// Log category of the parameter model: "trvaxx.parammodel".
Q_DECLARE_LOGGING_CATEGORY(lcParamModel)
