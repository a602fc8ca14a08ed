#pragma once
// Logging category of the views (2D, 3D, joint view and their overlays).

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcViews)
