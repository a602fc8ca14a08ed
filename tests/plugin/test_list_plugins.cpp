// `orlangui --list-plugins` as a user runs it: no display, plug-ins from the application's folder.
#include "generated/trvaxx_version.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {
struct RunResult {
    int exitCode = -1;
    QString out;
    QString err;
};

RunResult listPlugins(const QString& extraPluginPath) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("TRVAXX_PLUGIN_PATH"), extraPluginPath);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(ORLANGUI_EXE), {QStringLiteral("--list-plugins")});
    RunResult run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
} // namespace

TEST(ListPlugins, PrintsTheSensorTypeAndBothVersionsWithoutADisplay) {
    const RunResult run = listPlugins(QString());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("plugin_trvaxx.so"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("sensor type: TRVAXX\n"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("\"plugin_trvaxx\" = \"" TRVAXX_PLUGIN_VERSION "\"\n")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("\"kVel\" = \"3.3.13\"\n"))) << run.out.toStdString();
    EXPECT_FALSE(run.out.contains(QStringLiteral("Refused files")));
}

TEST(ListPlugins, ReportsRefusedFilesAndStillListsThePlugin) {
    const RunResult run = listPlugins(QStringLiteral(FAKE_PLUGIN_DIR));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("Refused files:"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("fake_bad_verification.so: verification failed")))
        << run.out.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("fake_no_verification.so refused"))) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("sensor type: TRVAXX\n")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("\"kVel\" = \"3.3.13\"")));
}
