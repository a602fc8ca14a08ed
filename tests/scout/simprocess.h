#pragma once
// The trvaxx-sim program (path in TRVAXX_SIM) with the given arguments, quiet and unpaced on CAN,
// stopped with the test.

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

struct SimProcess {
    QProcess process;
    explicit SimProcess(QStringList args) {
        args += QStringList{"--quiet", "--duration", "120", "--can-no-pace"};
        process.start(QString::fromLocal8Bit(qgetenv("TRVAXX_SIM")), args);
        EXPECT_TRUE(process.waitForStarted(10000));
    }
    ~SimProcess() {
        process.terminate();
        process.waitForFinished(5000);
    }
};
