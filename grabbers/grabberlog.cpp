#include "grabbers/grabberlog.h"

Q_LOGGING_CATEGORY(lcGrabber, "trvaxx.grabber")
