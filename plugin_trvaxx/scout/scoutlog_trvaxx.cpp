#include "scout/scoutlog_trvaxx.h"

Q_LOGGING_CATEGORY(lcScout, "trvaxx.scout")
