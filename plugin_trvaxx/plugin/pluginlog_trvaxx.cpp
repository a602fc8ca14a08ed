#include "plugin/pluginlog_trvaxx.h"

Q_LOGGING_CATEGORY(lcPlugin, "trvaxx.plugin")
