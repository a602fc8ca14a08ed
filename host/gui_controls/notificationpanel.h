#pragma once

#include <QFrame>
#include <QHash>
#include <QPointer>

#include "common/notification.h"

class QLabel;
class QProgressBar;
class QToolButton;
class QVBoxLayout;

// One notification in the panel: type stripe and icon, title, text, detail, a progress bar for
// running operations and a dismiss button. Follows the notification's signals; a finished one is
// shown dimmed with a check mark until the manager removes it.
class NotificationCard : public QFrame {
    Q_OBJECT
public:
    explicit NotificationCard(Notification* notification, QWidget* parent = nullptr);

    Notification* notification() const { return source; }
    bool showsFinished() const { return finishedShown; }
    bool showsProgress() const;

private:
    void refresh();

    QPointer<Notification> source;
    QLabel* icon;
    QLabel* title;
    QLabel* text;
    QLabel* detail;
    QLabel* time;
    QProgressBar* progress;
    QToolButton* dismiss;
    bool finishedShown = false;
};

// The host's notification panel: every notification the NotificationManager shows appears here,
// newest first, until the manager removes it.
class NotificationPanel : public QFrame {
    Q_OBJECT
public:
    explicit NotificationPanel(QWidget* parent = nullptr);

    int cardCount() const { return cards.size(); }
    NotificationCard* cardFor(Notification* notification) const { return cards.value(notification); }

signals:
    // The number of notifications shown changed (for a badge on the panel's button).
    void countChanged(int count);

private:
    void add(Notification* notification);
    void remove(Notification* notification);
    void updateHeader();

    QHash<Notification*, NotificationCard*> cards;
    QVBoxLayout* list;
    QLabel* header;
    QLabel* empty;
};
