#include "candevices/socketcan/socketcanlog.h"

Q_LOGGING_CATEGORY(lcSocketCan, "trvaxx.candevice.socketcan")
