// `trvaxx params` as a user runs it against a virtual sensor on a socketcand bus. The file's exact
// form is pinned in test_pcdevice.
#include "parammodel/paramfile_trvaxx.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "tests/can-communication/simcansensor.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class ParamsTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.started); }
    ToolRun params(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(TRVAXX_TOOL),
                QStringList{QStringLiteral("params"), QStringLiteral("--can"), QString::fromUtf8(sim.url())} +
                    args);
        ToolRun r;
        if (!p.waitForFinished(60000))
            return r;
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    // The writable parameters of a file, name to value text.
    static QMap<QString, QString> writable(const QString& file) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        ParamFile_TRVAXX::Content content;
        ParamFile_TRVAXX::ParseError error;
        EXPECT_TRUE(ParamFile_TRVAXX::read(f.readAll(), content, error)) << error.text.toStdString();
        PCDevice_TRVAXX names;
        QMap<QString, QString> values;
        for (const ParamFile_TRVAXX::Entry& e : content.params)
            if (!PCDevice_TRVAXX::isReadOnly(names.getParameterId(e.name)))
                values.insert(e.name, e.value);
        return values;
    }

    QTemporaryDir dir;
    // Its own stream port: other tests' virtual sensors stream to the default one.
    SimCanSensor sim{trvsim::Variant::DI, trvsim::Model::TRVAFN, {3, 4, 1}, nullptr, {}, 42391};
};

} // namespace

TEST_F(ParamsTool, ExportImportsBackUnchanged) {
    ToolRun r = params({"export", path("a.trvaxxcfg")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QMap<QString, QString> before = writable(path("a.trvaxxcfg"));
    EXPECT_TRUE(before.contains("BF_ROIS_UPPER_LEFT_X")) << "a DI sensor's ROI lists";

    r = params({"import", path("a.trvaxxcfg")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Writing Parameters: Please wait ~15 sec."));
    EXPECT_TRUE(r.err.contains("Successfully Written"));
    ASSERT_EQ(params({"export", path("b.trvaxxcfg")}).exitCode, 0);
    EXPECT_EQ(writable(path("b.trvaxxcfg")), before);

    // An edited angle in degrees reaches the sensor; a damaged file changes nothing.
    QFile file(path("a.trvaxxcfg"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QRegularExpression(QStringLiteral(R"(name="CAMCAL_ROT_Z" type="qvariant" value="[^"]*")")),
                 QStringLiteral(R"(name="CAMCAL_ROT_Z" type="qvariant" value="-12.5")"));
    const auto importText = [&](const QString& t) {
        file.resize(0);
        file.seek(0);
        file.write(t.toUtf8());
        file.flush();
        return params({"import", path("a.trvaxxcfg")});
    };
    ASSERT_EQ(importText(text).exitCode, 0);
    r = importText(text.left(text.size() / 2).replace("-12.5", "33"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.startsWith("error 10002 ")) << r.err.toStdString();
    r = params({"get", "CAMCAL_ROT_Z"});
    EXPECT_EQ(r.out.trimmed(), "CAMCAL_ROT_Z: -12.5") << r.err.toStdString();
}

TEST_F(ParamsTool, NewUdpPortMovesTheStreamAfterTheRestart) {
    // The pattern lists are not in the parameter blocks: only the stream's parameter map has them.
    const QStringList getPattern{"get", "AUTOCALIB_X_PATTERN"};
    EXPECT_EQ(params(getPattern).out.trimmed(), "AUTOCALIB_X_PATTERN:");
    EXPECT_TRUE(
        params(getPattern + QStringList{"--udp-port", "42391"}).out.trimmed().endsWith(QLatin1Char('|')));

    QUdpSocket socket;
    ASSERT_TRUE(socket.bind(QHostAddress::LocalHost, 42392));
    const ToolRun r = params({"set", "STATIC_UDP_PORT", "42392"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), "STATIC_UDP_PORT: 42392");
    EXPECT_TRUE(socket.hasPendingDatagrams() || socket.waitForReadyRead(15000));

    const ToolRun refused = params({"set", "FIRMWARE_VERSION", "9.9.9"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("FIRMWARE_VERSION is read-only"));
}
