#pragma once

#include "tools/trvaxx/cyclesummary.h"

#include <QJsonDocument>
#include <QTextStream>

// Writes summary lines to standard output (text or one JSON object per line) and messages to
// standard error; flushes each line so that a pipe reader sees it at once.
class OutputSink {
public:
    explicit OutputSink(bool json) : m_json(json), m_out(stdout), m_err(stderr) {}

    void line(const SummaryLine& line) {
        if (m_json)
            m_out << QJsonDocument(line.toJson()).toJson(QJsonDocument::Compact) << '\n';
        else
            m_out << line.toText() << '\n';
        m_out.flush();
    }
    void message(const QString& text) {
        m_err << "trvaxx: " << text << '\n';
        m_err.flush();
    }

private:
    bool m_json;
    QTextStream m_out;
    QTextStream m_err;
};
