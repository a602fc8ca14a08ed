#include "common/l10nstr.h"
#include "common/logentry.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "common/notireg.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace {
class Notifications : public ::testing::Test {
protected:
    void SetUp() override {
        NotificationManager::instance().setLingerTime(20);
        NotificationManager::instance().setEventLifetime(20);
    }
};
} // namespace

TEST_F(Notifications, RegistryKeepsTheFirstRegistrationOfAnId) {
    EXPECT_TRUE(NotiReg::registerNotification(900001, L10nStr::tr("Title A"), L10nStr::tr("Text A"),
                                              NOTIFICATION_ERROR));
    // The same content again is fine (a plug-in loaded twice)...
    EXPECT_TRUE(NotiReg::registerNotification(900001, L10nStr::tr("Title A"), L10nStr::tr("Text A"),
                                              NOTIFICATION_ERROR));
    // ...other content under the same id is refused and logged.
    const int before = LogBook::instance().entries().size();
    NotiReg clash(900001, L10nStr::tr("Title B"), L10nStr::tr("Text B"), NOTIFICATION_WARNING);
    EXPECT_FALSE(clash.isAccepted());
    EXPECT_GT(LogBook::instance().entries().size(), before);
    const auto entry = NotiReg::lookup(900001);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->title.translated(), QStringLiteral("Title A"));
    EXPECT_EQ(entry->type, NOTIFICATION_ERROR);

    EXPECT_FALSE(NotiReg::registerNotification(0, L10nStr::tr("x"), L10nStr::tr("y"), NOTIFICATION_ERROR));
    EXPECT_FALSE(NotiReg::lookup(900002));
    EXPECT_TRUE(NotiReg::registeredIds().contains(900001));
    EXPECT_TRUE(NotiReg::unregisterNotification(900001));
    EXPECT_FALSE(NotiReg::isRegistered(900001));
}

TEST_F(Notifications, DisplayByIdShowsTheRegisteredTextsWithDetail) {
    NotiReg reg(900010, L10nStr::tr("Aborted Connection"), L10nStr::tr("Connection was Aborted."),
                NOTIFICATION_ERROR);
    QSignalSpy added(&NotificationManager::instance(), &NotificationManager::notificationAdded);
    Notification* n =
        NotificationManager::instance().displayNotification(900010, QStringLiteral("192.168.1.1"));
    ASSERT_TRUE(n);
    EXPECT_EQ(added.count(), 1);
    EXPECT_EQ(n->getTitle(), QStringLiteral("Aborted Connection"));
    EXPECT_EQ(n->getText(), QStringLiteral("Connection was Aborted."));
    EXPECT_EQ(n->getDetail(), QStringLiteral("192.168.1.1"));
    EXPECT_EQ(n->getType(), NOTIFICATION_ERROR);
    EXPECT_EQ(n->getId(), 900010);

    // Repeating the id while it is shown updates it instead of stacking a second one...
    Notification* again =
        NotificationManager::instance().displayNotification(900010, QStringLiteral("later"));
    EXPECT_EQ(again, n);
    EXPECT_EQ(n->getDetail(), QStringLiteral("later"));
    EXPECT_EQ(added.count(), 1);
    // ...unless asked for.
    Notification* second = NotificationManager::instance().displayNotification(900010, QString(), false);
    EXPECT_NE(second, n);

    // Owned notifications are deleted after they finished and lingered.
    QPointer<Notification> guardFirst(n), guardSecond(second);
    n->onNotificationFinished();
    second->onNotificationFinished();
    EXPECT_TRUE(QTest::qWaitFor([&] { return guardFirst.isNull() && guardSecond.isNull(); }, 2000));

    // An unknown id still tells the user something, naming the id.
    Notification* unknown = NotificationManager::instance().displayNotification(987654, QString());
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->getType(), NOTIFICATION_ERROR);
    EXPECT_TRUE(unknown->getText().contains(QStringLiteral("987654")));
    unknown->onNotificationFinished();
}

TEST_F(Notifications, ForeignNotificationIsNotDeletedAndItsDeletionIsNoticed) {
    auto* loader =
        new LoaderNotification(QStringLiteral("Disconnecting"), QStringLiteral("Trying to disconnect."));
    QSignalSpy removed(&NotificationManager::instance(), &NotificationManager::notificationRemoved);
    NotificationManager::instance().displayNotification(loader, false);
    loader->onNotificationFinished();
    // Other tests' notifications may be removed meanwhile; wait for this one.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return std::any_of(removed.begin(), removed.end(), [&](const QList<QVariant>& a) {
                return a.at(0).value<Notification*>() == loader;
            });
        },
        2000));
    // Still alive: the caller owns it.
    EXPECT_TRUE(loader->isFinished());
    EXPECT_FALSE(NotificationManager::instance().activeNotifications().contains(loader));
    delete loader;

    // A foreign one deleted while shown disappears from the list at once.
    auto* other = new GenericNotification(QStringLiteral("a"), QStringLiteral("b"), 0);
    NotificationManager::instance().displayNotification(other, false);
    EXPECT_TRUE(NotificationManager::instance().activeNotifications().contains(other));
    delete other;
    EXPECT_FALSE(NotificationManager::instance().activeNotifications().contains(other));
}

TEST_F(Notifications, LoaderProgressIsClampedAndFinishingIsFinal) {
    LoaderNotification loader(QStringLiteral("Firmwareupdate"), QStringLiteral("Please wait ~2 min."));
    EXPECT_LT(loader.getProgress(), 0.0f); // busy until the first value
    QSignalSpy changed(&loader, &Notification::changed);
    QSignalSpy finished(&loader, &Notification::notificationFinished);
    // Each value and what is kept of it; the last one repeats the held value, so no change is signalled.
    const std::pair<float, float> steps[] = {
        {0.05f, 0.05f}, {7.0f, 1.0f}, {-3.0f, 0.0f}, {std::numeric_limits<float>::quiet_NaN(), 0.0f}};
    for (const auto& [given, kept] : steps) {
        loader.updateProgress(given);
        EXPECT_FLOAT_EQ(loader.getProgress(), kept) << given;
    }
    EXPECT_EQ(changed.count(), 3);
    loader.onNotificationFinished();
    loader.onNotificationFinished();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(loader.isFinished());
}

TEST_F(Notifications, WorkerThreadDisplaysArriveOnTheGuiThread) {
    NotiReg reg(900020, L10nStr::tr("Worker"), L10nStr::tr("From a worker."), NOTIFICATION_WARNING);
    QList<Notification*> seen;
    QObject context;
    QObject::connect(&NotificationManager::instance(), &NotificationManager::notificationAdded, &context,
                     [&](Notification* n) {
                         EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
                         EXPECT_EQ(n->thread(), QCoreApplication::instance()->thread());
                         seen << n;
                     });
    std::thread worker([] {
        EXPECT_EQ(NotificationManager::instance().displayNotification(900020, QString()), nullptr);
        NotificationManager::instance().displayNotification(
            new GenericNotification(QStringLiteral("t"), QStringLiteral("x"), NOTIFICATION_INFO), true);
    });
    worker.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 2000));
    for (Notification* n : seen)
        n->onNotificationFinished();
    EXPECT_TRUE(QTest::qWaitFor(
        [] { return NotificationManager::instance().activeNotifications().isEmpty(); }, 2000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
