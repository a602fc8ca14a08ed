// Runs with TRVAXX_TIME_SCALE=0.25 and its data and settings folders in the build tree (see
// CMakeLists.txt).
#include "common/commonutilities.h"
#include "common/dftimeout.h"
#include "common/logentry.h"
#include "common/pluginverification.h"
#include "common/styleproxy.h"
#include "common/unittext.h"

#include <QColor>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

TEST(CommonUtilities, WaitsAreScaledByTheEnvironmentFactor) {
    ASSERT_EQ(qgetenv("TRVAXX_TIME_SCALE"), QByteArray("0.25"));
    EXPECT_EQ(CommonUtilities::scaledMs(1000), 250);
    EXPECT_EQ(CommonUtilities::scaledMs(-5), 0);
    EXPECT_EQ(CommonUtilities::scaledMs(2147483647), 536870912);
}

TEST(CommonUtilities, SleepServesEventsWhileWaiting) {
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    CommonUtilities::sleepQtFriendly(200); // 50 ms after scaling
    EXPECT_TRUE(fired);
    EXPECT_GE(clock.elapsed(), 45);
}

TEST(DFTimeout, IntervalIsScaledAndFiresOnce) {
    DFTimeout timeout;
    QSignalSpy spy(&timeout, &DFTimeout::timeout);
    timeout.start(1000);
    EXPECT_TRUE(timeout.isActive());
    EXPECT_LT(timeout.remainingTime(), 500); // 250 ms plus the coarse timer's slack, far below 1000
    EXPECT_TRUE(spy.wait(2000));
    EXPECT_FALSE(timeout.isActive());
    timeout.start(100);
    timeout.stop();
    EXPECT_FALSE(spy.wait(100));
    EXPECT_EQ(spy.count(), 1);
}

TEST(LogEntry, EntriesReachTheBookWithinItsCapacityAndFilter) {
    LogBook::instance().setEchoLevel(LOG_CRITICAL);
    LogEntry(LOG_WARNING, "TRVAXX::exportAll Start");
    const LogEntry last = LogBook::instance().entries().last();
    EXPECT_EQ(last.getMessage(), "TRVAXX::exportAll Start");
    EXPECT_EQ(last.getLevel(), LOG_WARNING);

    LogBook::instance().setCapacity(3);
    for (int i = 0; i < 5; ++i)
        LogEntry(LOG_INFO, QString::number(i));
    ASSERT_EQ(LogBook::instance().entries().size(), 3);
    EXPECT_EQ(LogBook::instance().entries().first().getMessage(), "2");

    // The host's category filters the book: a rule switches debug entries off, not warnings.
    QLoggingCategory::setFilterRules(QStringLiteral("trvaxx.host.debug=false"));
    LogEntry(LOG_DEBUG, "dropped");
    LogEntry(LOG_WARNING, "kept");
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(LogBook::instance().entries().last().getMessage(), "kept");
    EXPECT_EQ(LogBook::instance().entries().at(1).getMessage(), "4");
}

static void writeFile(const QString& path, const char* text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(StyleProxy, DefaultsAreOverriddenByAStyleFile) {
    StyleProxy::resetToDefaults();
    EXPECT_FALSE(StyleProxy::getProperty("noSuchProperty").isValid());
    EXPECT_EQ(StyleProxy::getProperty("noSuchProperty", 7).toInt(), 7);

    QTemporaryDir dir;
    const QString path = dir.filePath("dark.style");
    writeFile(path, "# comment\n[section]\ncameraColor = #80ff0000\nipInputLength=200\nsceneFont = \"12\"\n"
                    "broken line without equals\n= novalue\n1bad = 3\n");
    EXPECT_TRUE(StyleProxy::loadStyleFile(path));
    const QColor camera = StyleProxy::getProperty("cameraColor").value<QColor>();
    EXPECT_EQ(camera.alpha(), 0x80);
    EXPECT_EQ(camera.red(), 255);
    EXPECT_EQ(StyleProxy::getProperty("ipInputLength").toInt(), 200);
    EXPECT_EQ(StyleProxy::getProperty("sceneFont").typeId(), QMetaType::QString); // quoted stays text
    EXPECT_FALSE(StyleProxy::hasProperty("1bad"));

    EXPECT_FALSE(StyleProxy::loadStyleFile(dir.filePath("missing.style")));
    writeFile(dir.filePath("empty.style"), "# nothing\n");
    EXPECT_FALSE(StyleProxy::loadStyleFile(dir.filePath("empty.style")));
    StyleProxy::resetToDefaults();
    EXPECT_EQ(StyleProxy::getProperty("ipInputLength").toInt(), 150);
}

TEST(PluginVerification, AcceptsOwnTextAndRefusesForeignBuilds) {
    const QByteArray own = PluginVerification::verificationText();
    EXPECT_TRUE(PluginVerification::check(own.constData()).isEmpty());
    const QByteArray key = "buildkey=" + PluginVerification::buildKey();
    const auto text = [&](const char* version, const char* debug = "false", QByteArray buildKey = {}) {
        return QByteArray("pattern=QT_PLUGIN_VERIFICATION_DATA\nversion=") + version + "\ndebug=" + debug +
               "\n" + (buildKey.isNull() ? key : buildKey);
    };
    const QList<QByteArray> refused = {
        QByteArray(),
        QByteArray("garbage"),
        QByteArray("version=4.8.5\ndebug=false\n") + key, // no pattern
        text("4.9.0"),
        text("5.0.0"),
        text("4.8"),
        text("4.8.5", "true"),
        text("4.8.5", "false", "buildkey=mips irix cc"),
    };
    for (const QByteArray& t : refused)
        EXPECT_FALSE(PluginVerification::check(t.constData()).isEmpty()) << t.toStdString();
    EXPECT_FALSE(PluginVerification::check(nullptr).isEmpty());
    EXPECT_EQ(text("4.8.5"), own);
    EXPECT_TRUE(PluginVerification::check(text("4.7.1").constData()).isEmpty()); // an older 4.x plug-in
}

TEST(UnitText, NumberThenUnit) {
    const struct {
        double value;
        Unit unit;
        int decimals;
        const char* expected;
    } cases[] = {
        {1.234, Unit::Meter, 2, "1.23 m"},
        {-0.004, Unit::Meter, 2, "0.00 m"},
        {-0.6, Unit::Degree, 0, "-1°"},
        {0.4, Unit::Degree, 0, "0°"},
        {2.5, Unit::SquareMeter, 2, "2.50 m²"},
        {87.0, Unit::Percent, 0, "87 %"},
        {-3.456, Unit::MeterPerSecond, 2, "-3.46 m/s"},
        {qQNaN(), Unit::Meter, 2, "- m"},
        {7.0, Unit::None, 1, "7.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unitText(c.value, c.unit, c.decimals), QString::fromUtf8(c.expected)) << c.expected;
}
