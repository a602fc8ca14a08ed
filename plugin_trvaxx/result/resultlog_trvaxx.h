#pragma once

#include <QLoggingCategory>

// Log categories of the result stream: "trvaxx.result" for the chain from cycle to record, and
// "trvaxx.transport" for the Qt-free UDP transport, whose log lines reach Qt through the result
// loader's logging bridge.
Q_DECLARE_LOGGING_CATEGORY(lcResult)
Q_DECLARE_LOGGING_CATEGORY(lcTransport)
