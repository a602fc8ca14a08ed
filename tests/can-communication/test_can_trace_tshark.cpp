// The frame trace of trvaxx can-info read by an outside tool: tshark decodes the pcap as ISO-TP
// on the diagnostic identifiers of node 239 and must find the connect sequence's services.
#include "tests/can-communication/simcansensor.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr const char* kTshark = "/usr/bin/tshark";

TEST(CanTraceTshark, ConnectSequenceDecodesAsUds) {
    if (!QFile::exists(QLatin1String(kTshark)))
        GTEST_SKIP() << kTshark << " is not installed (Debian package tshark); the trace is not checked";
    SimCanSensor sim{trvsim::Variant::LG, trvsim::Model::TRVAFN, {3, 5, 2}};
    ASSERT_TRUE(sim.started) << sim.bus->errorText();
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("can-info.pcap"));

    QProcess tool;
    tool.start(QStringLiteral(TRVAXX_TOOL),
               {"can-info", "--can", QString::fromUtf8(sim.url()), "--trace", trace});
    ASSERT_TRUE(tool.waitForFinished(30000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();

    // Node 239: requests on 0x18DAEFF1, answers on 0x18DAF1EF. uds.sid carries the service
    // without the answer bit, uds.reply the bit (0x62 is sid 0x22 with reply 1).
    QProcess tshark;
    tshark.start(QLatin1String(kTshark),
                 {"-r", trace, "-o", "iso15765.can.extended_ids:0x18daeff1,0x18daf1ef", "-d",
                  "iso15765.subdissector,uds", "-T", "fields", "-e", "uds.sid", "-e", "uds.reply"});
    ASSERT_TRUE(tshark.waitForFinished(60000));
    ASSERT_EQ(tshark.exitCode(), 0) << tshark.readAllStandardError().toStdString();
    QSet<QString> services;
    for (const QByteArray& line : tshark.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        if (fields.size() != 2 || fields[0].isEmpty())
            continue;
        bool sidOk = false, replyOk = false;
        const int sid = fields[0].toInt(&sidOk, 0);
        const int reply = fields[1].toInt(&replyOk, 0); // "0x00" or "0x01"
        if (sidOk && replyOk)
            services.insert(QString::asprintf("0x%.2X", reply != 0 ? sid | 0x40 : sid));
    }
    for (const char* expected : {"0x10", "0x50", "0x22", "0x62"})
        EXPECT_TRUE(services.contains(QLatin1String(expected)))
            << expected << " missing; decoded: " << QStringList(services.values()).join(' ').toStdString();
}

} // namespace
