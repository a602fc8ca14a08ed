#pragma once

#include "tools/trvaxx/cyclesummary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

// Writes records to standard output (text, or with --json one JSON object per line) and messages
// to standard error; flushes each line so that a pipe reader sees it at once.
class OutputSink {
public:
    explicit OutputSink(bool json) : m_json(json), m_out(stdout), m_err(stderr) {}

    bool json() const { return m_json; }
    void line(const SummaryLine& line) {
        if (m_json)
            record(line.toJson());
        else
            text(line.toText());
    }
    void record(const QJsonObject& object) {
        m_out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
        m_out.flush();
    }
    void text(const QString& text) {
        m_out << text << '\n';
        m_out.flush();
    }
    void message(const QString& text) {
        m_err << "trvaxx: " << text << '\n';
        m_err.flush();
    }
    // The failure of a command: "error CODE TEXT" on standard error and, with --json, the record
    // {"error": {"code": CODE, "text": TEXT}} on standard output. CODE is the plug-in's
    // notification id or result code where there is one, otherwise the exit status.
    void error(int code, const QString& text) {
        m_err << "error " << code << ' ' << text << '\n';
        m_err.flush();
        if (m_json)
            record(QJsonObject{{QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), code},
                                                                     {QStringLiteral("text"), text}}}});
    }

private:
    bool m_json;
    QTextStream m_out;
    QTextStream m_err;
};
