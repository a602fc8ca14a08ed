#include "result/resultloaderlogging_trvaxx.h"

#include "result/resultlog_trvaxx.h"

#include "common/logentry.h"

#include <QByteArray>
#include <QDebug>

#include <cstdarg>
#include <cstdio>
#include <cstring>

void ResultLoaderLogging_TRVAXX::log(int level, const char* format, ...) {
    if (level > threshold.load(std::memory_order_relaxed) || format == nullptr)
        return;

    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    QByteArray text;
    if (needed < 0) {
        text = QByteArray(format);
    } else if (size_t(needed) < sizeof small) {
        text = QByteArray(small, needed);
    } else {
        text.resize(needed + 1);
        std::vsnprintf(text.data(), size_t(needed) + 1, format, copy);
        text.resize(needed);
    }
    va_end(copy);

    if (text.contains(MISSING_PACKETS)) {
        const int seen = missingPackets.fetch_add(1, std::memory_order_relaxed) + 1;
        if (seen == 3)
            text = QByteArray(MISSING_PACKETS_FILTER_TEXT);
        else if (seen > 3)
            return;
    }
    qCDebug(lcTransport).noquote() << QStringLiteral("Wek[%1]").arg(level) + QString::fromLocal8Bit(text) +
                                          LOG_LOC;
}
