#include "result/resultlog_trvaxx.h"

Q_LOGGING_CATEGORY(lcResult, "trvaxx.result")
Q_LOGGING_CATEGORY(lcTransport, "trvaxx.transport")
