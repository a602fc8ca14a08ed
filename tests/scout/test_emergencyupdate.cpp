// The emergency firmware update of the manual form against a virtual sensor in its boot loader,
// flashed without a connection. Fixed ports: run in a network namespace.

#include "can-communication/flashcontainer.h"
#include "common/notificationmanager.h"
#include "gui_controls/comboselectionbox.h"
#include "scout/manualscout_trvaxx.h"
#include "tests/scout/simprocess.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// A container for the virtual sensor's article and hardware with a new DSP firmware.
QString container(const QTemporaryDir& dir) {
    QByteArray image("TRVSIM-FW block=DSP version=3.4.9\n");
    image.append(QByteArray(6000, '\x5a'));
    QString error;
    const QByteArray bytes = FlashContainer::build({{"TRVAFN-R2A1"}, "\x03", "\x02", "\x02"},
                                                   {FlashBlock::fromData("DSP", 0x60, image)}, error);
    const QString path = dir.filePath("rescue.fcr");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << error.toStdString();
    return path;
}

// Runs the form's update with `path` chosen in the file dialog; the titles and ids shown.
QStringList runUpdate(const QString& path) {
    ManualScout_TRVAxx scout;
    QWidget window;
    QWidget* form = scout.createWidget(&window);
    window.show();
    form->findChild<ComboSelectionBox*>("connectionCB")->setCurrentIndex(ManualScout_TRVAxx::EmergencyUpdate);
    // Types the file's path into the dialog once it is open and confirms it.
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                chooser.stop();
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(name, nullptr);
                name->setText(path);
                QTest::keyClick(name, Qt::Key_Return);
            }
    });
    chooser.start(50);
    const QList<Notification*> before = NotificationManager::instance().activeNotifications();
    QTest::mouseClick(form->findChild<QPushButton*>("flashButton"), Qt::LeftButton);
    QStringList shown;
    for (Notification* n : NotificationManager::instance().activeNotifications())
        if (!before.contains(n))
            shown << (n->getId() ? QString::number(n->getId()) : n->getTitle());
    return shown;
}

} // namespace

// A boot loader that reports its programming session is flashed; one that never answers the
// session read is no boot loader.
TEST(EmergencyUpdate, FlashesASensorStuckInItsBootLoaderAndNamesASilentOne) {
    const struct {
        QStringList args;
        QStringList shown;
    } cases[] = {
        {{"--boot-loader-session", "--can-listen", "127.0.0.1:29611"},
         {"Starting Firmware Update", "Firmware Update Successful"}},
        {{"--can-listen", "127.0.0.1:29612"}, {"Starting Firmware Update", "130017"}},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        // On a CAN bus only, its stream sent nowhere, given time to come up.
        SimProcess sim(QStringList{"--boot-loader", "--dest", "127.0.0.1:9"} + c.args);
        QTest::qWait(300);
        qputenv("TRVAXX_CAN_INTERFACE", ("socketcand://" + c.args.last() + "/can0").toUtf8());
        EXPECT_EQ(runUpdate(container(dir)), c.shown);
    }
}
