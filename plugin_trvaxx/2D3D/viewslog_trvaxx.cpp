#include "2D3D/viewslog_trvaxx.h"

Q_LOGGING_CATEGORY(lcViews, "trvaxx.views")
