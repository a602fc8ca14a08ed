#pragma once

#include <QDateTime>
#include <QList>
#include <QLoggingCategory>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <atomic>
#include <mutex>

// Log category of the host: "trvaxx.host". Host log entries pass its filter (QT_LOGGING_RULES),
// and the host's own Qt messages use it.
Q_DECLARE_LOGGING_CATEGORY(lcHost)

enum LogLevel { LOG_DEBUG = 0, LOG_INFO = 1, LOG_WARNING = 2, LOG_ERROR = 3, LOG_CRITICAL = 4 };

// One line of the host log. Constructing an entry with a level and a message writes it to the log
// unless the category lcHost has that level switched off:
//     LogEntry(LOG_INFO, "TRVAXX::exportAll Start");
class LogEntry {
public:
    LogEntry() = default;
    LogEntry(LogLevel level, const QString& message);

    // An entry that is not added to the log (the log book uses it to record Qt messages).
    static LogEntry make(LogLevel level, const QString& message);

    LogLevel getLevel() const { return level; }
    QString getMessage() const { return message; }
    QDateTime getTime() const { return time; }
    // "2026-12-05 14:42:28.123 [warning] message"
    QString toString() const;
    static QString levelName(LogLevel level);

private:
    LogLevel level = LOG_INFO;
    QString message;
    QDateTime time;
};

Q_DECLARE_METATYPE(LogEntry)

// The host log: the entries of this run (the newest `capacity` kept), a signal for each new one,
// and optionally a mirror to standard error. Thread-safe; `entryAdded` is emitted on the thread
// that added the entry, so GUI listeners connect queued (Qt does this for objects on the GUI
// thread when the sender runs elsewhere).
class LogBook : public QObject {
    Q_OBJECT
public:
    static LogBook& instance();

    // Adds an entry; with `echo` it is also printed when its level reaches the echo level.
    void add(const LogEntry& entry, bool echo = true);
    QList<LogEntry> entries() const;
    void clear();
    void setCapacity(int maxEntries);
    // Entries at or above `level` are also written to standard error (default: LOG_WARNING).
    void setEchoLevel(LogLevel level) { echoLevel = level; }
    // Routes Qt's own messages (qDebug, qWarning, qCritical...) into the log. Debug messages are
    // kept only in developer mode. Safe to call more than once.
    static void installQtMessageHandler();

signals:
    void entryAdded(const LogEntry& entry);

private:
    LogBook();
    mutable std::mutex mutex;
    QList<LogEntry> book;
    int capacity = 5000;
    std::atomic<int> echoLevel{LOG_WARNING};
};

// The location suffix of critical log lines: "\n   Loc: [file.cpp:123]".
QString logLocationSuffix(const char* file, int line);
#define LOG_LOC logLocationSuffix(__FILE__, __LINE__)
