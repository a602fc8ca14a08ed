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

void expectContains(const QString& text, std::initializer_list<const char*> parts) {
    for (const char* part : parts)
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part << " in:\n" << text.toStdString();
}
} // namespace

TEST(ListPlugins, PrintsTheSensorTypeAndBothVersionsWithoutADisplayAndReportsRefusedFiles) {
    RunResult run = listPlugins(QString());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    expectContains(run.out,
                   {"plugin_trvaxx.so", "sensor type: TRVAXX\n",
                    "\"plugin_trvaxx\" = \"" TRVAXX_PLUGIN_VERSION "\"\n", "\"kVel\" = \"3.3.13\"\n"});
    EXPECT_FALSE(run.out.contains(QStringLiteral("Refused files")));

    // Refused files do not keep the plug-in from being listed.
    run = listPlugins(QStringLiteral(FAKE_PLUGIN_DIR));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    expectContains(run.out, {"Refused files:", "fake_bad_verification.so: verification failed",
                             "sensor type: TRVAXX\n"});
    expectContains(run.err, {"fake_no_verification.so refused"});
}
