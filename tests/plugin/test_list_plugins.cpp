// `orlangui --list-plugins` as a user runs it: no display, plug-ins from the application's folder.
// How refused files are told apart is checked through the plug-in manager in test_plugin_loading.
#include "generated/trvaxx_version.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

TEST(ListPlugins, PrintsTheSensorTypeAndBothVersionsWithoutADisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TRVAXX_PLUGIN_PATH"})
        env.remove(QLatin1String(name));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(ORLANGUI_EXE), {QStringLiteral("--list-plugins")});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    for (const char* part : {"plugin_trvaxx.so", "sensor type: TRVAXX\n",
                             "\"plugin_trvaxx\" = \"" TRVAXX_PLUGIN_VERSION "\"\n  \"kVel\" = \"3.3.13\"\n"})
        EXPECT_TRUE(out.contains(QString::fromUtf8(part))) << part << " in:\n" << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("Refused files")));
}
