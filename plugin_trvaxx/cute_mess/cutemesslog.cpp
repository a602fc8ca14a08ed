#include "cute_mess/cutemesslog.h"

Q_LOGGING_CATEGORY(lcCuteMess, "trvaxx.cute_mess")
