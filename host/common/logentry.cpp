#include "common/logentry.h"

#include "common/hostsettings.h"

#include <QFileInfo>
#include <cstdio>
#include <mutex>

Q_LOGGING_CATEGORY(lcHost, "trvaxx.host")

namespace {
bool categoryEnabled(LogLevel level) {
    switch (level) {
    case LOG_DEBUG:
        return lcHost().isDebugEnabled();
    case LOG_INFO:
        return lcHost().isInfoEnabled();
    case LOG_WARNING:
        return lcHost().isWarningEnabled();
    case LOG_ERROR:
    case LOG_CRITICAL:
        return lcHost().isCriticalEnabled();
    }
    return true;
}
} // namespace

LogEntry::LogEntry(LogLevel level, const QString& message)
    : level(level), message(message), time(QDateTime::currentDateTime()) {
    if (categoryEnabled(level))
        LogBook::instance().add(*this);
}

LogEntry LogEntry::make(LogLevel level, const QString& message) {
    LogEntry e;
    e.level = level;
    e.message = message;
    e.time = QDateTime::currentDateTime();
    return e;
}

QString LogEntry::levelName(LogLevel level) {
    switch (level) {
    case LOG_DEBUG:
        return QStringLiteral("debug");
    case LOG_INFO:
        return QStringLiteral("info");
    case LOG_WARNING:
        return QStringLiteral("warning");
    case LOG_ERROR:
        return QStringLiteral("error");
    case LOG_CRITICAL:
        return QStringLiteral("critical");
    }
    return QStringLiteral("?");
}

QString LogEntry::toString() const {
    return QStringLiteral("%1 [%2] %3")
        .arg(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")), levelName(level), message);
}

LogBook::LogBook() {
    qRegisterMetaType<LogEntry>();
}

LogBook& LogBook::instance() {
    static LogBook book;
    return book;
}

void LogBook::add(const LogEntry& entry, bool echo) {
    {
        std::unique_lock lock(mutex);
        book.append(entry);
        while (book.size() > capacity)
            book.removeFirst();
    }
    if (echo && entry.getLevel() >= echoLevel) {
        const QByteArray line = entry.toString().toLocal8Bit() + '\n';
        std::fputs(line.constData(), stderr);
    }
    emit entryAdded(entry);
}

QList<LogEntry> LogBook::entries() const {
    std::unique_lock lock(mutex);
    return book;
}

void LogBook::clear() {
    std::unique_lock lock(mutex);
    book.clear();
}

void LogBook::setCapacity(int maxEntries) {
    std::unique_lock lock(mutex);
    capacity = qMax(1, maxEntries);
    while (book.size() > capacity)
        book.removeFirst();
}

namespace {
QtMessageHandler previousHandler = nullptr;
bool handlerInstalled = false;
bool keepDebugMessages = false; // read once at installation: settings are not thread-safe

void qtMessageToLog(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    LogLevel level = LOG_DEBUG;
    switch (type) {
    case QtDebugMsg:
        level = LOG_DEBUG;
        break;
    case QtInfoMsg:
        level = LOG_INFO;
        break;
    case QtWarningMsg:
        level = LOG_WARNING;
        break;
    case QtCriticalMsg:
        level = LOG_CRITICAL;
        break;
    case QtFatalMsg:
        level = LOG_CRITICAL;
        break;
    }
    // Debug output stays on the console; it is too much for the log view outside developer mode.
    // Qt prints the message itself (previous handler), so the book does not echo it.
    if (level > LOG_DEBUG || keepDebugMessages)
        LogBook::instance().add(LogEntry::make(level, message), false);
    if (previousHandler)
        previousHandler(type, context, message);
}
} // namespace

void LogBook::installQtMessageHandler() {
    if (handlerInstalled)
        return;
    handlerInstalled = true;
    keepDebugMessages = HostSettings::isDevMode();
    previousHandler = qInstallMessageHandler(qtMessageToLog);
}

QString logLocationSuffix(const char* file, int line) {
    return QStringLiteral("\n   Loc: [%1:%2]")
        .arg(QFileInfo(QString::fromLocal8Bit(file)).fileName())
        .arg(line);
}
