#pragma once
// Logging category of the image grabbers.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcGrabber)
