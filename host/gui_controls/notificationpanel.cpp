#include "gui_controls/notificationpanel.h"

#include "common/notification.h"
#include "common/notificationmanager.h"
#include "gui_controls/notificationicons.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

NotificationCard::NotificationCard(Notification* notification, QWidget* parent)
    : QFrame(parent), source(notification) {
    setObjectName(QStringLiteral("notificationCard"));
    const QColor accent = NotificationIcons::typeColor(notification->getType());
    setStyleSheet(QStringLiteral("#notificationCard { border-left: 4px solid %1; }").arg(accent.name()));

    icon = new QLabel(this);
    icon->setFixedSize(22, 22);
    icon->setPixmap(NotificationIcons::icon(notification->getIcon(), notification->getType()).pixmap(22, 22));

    title = new QLabel(this);
    title->setObjectName(QStringLiteral("notificationTitle"));
    title->setWordWrap(true);
    text = new QLabel(this);
    text->setObjectName(QStringLiteral("notificationText"));
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detail = new QLabel(this);
    detail->setObjectName(QStringLiteral("notificationDetail"));
    detail->setWordWrap(true);
    detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    time = new QLabel(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")), this);
    time->setObjectName(QStringLiteral("notificationTime"));
    progress = new QProgressBar(this);
    progress->setTextVisible(false);
    progress->setFixedHeight(6);
    dismiss = new QToolButton(this);
    dismiss->setObjectName(QStringLiteral("notificationDismiss"));
    dismiss->setText(QStringLiteral("\u2715"));
    dismiss->setToolTip(tr("Dismiss"));
    dismiss->setAutoRaise(true);

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(title, 1);
    top->addWidget(time, 0, Qt::AlignTop);
    top->addWidget(dismiss, 0, Qt::AlignTop);
    auto* body = new QVBoxLayout;
    body->setSpacing(3);
    body->addLayout(top);
    body->addWidget(text);
    body->addWidget(detail);
    body->addWidget(progress);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 6, 8);
    row->setSpacing(10);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(body, 1);

    connect(notification, &Notification::changed, this, &NotificationCard::refresh);
    connect(notification, &Notification::notificationFinished, this, &NotificationCard::refresh);
    connect(dismiss, &QToolButton::clicked, notification, &Notification::onNotificationFinished);
    refresh();
}

bool NotificationCard::showsProgress() const {
    return !progress->isHidden();
}

void NotificationCard::refresh() {
    if (!source)
        return;
    title->setText(source->getTitle());
    text->setText(source->getText());
    text->setVisible(!source->getText().isEmpty());
    detail->setText(source->getDetail());
    detail->setVisible(!source->getDetail().isEmpty());
    const bool isLoader = qobject_cast<LoaderNotification*>(source) != nullptr;
    finishedShown = source->isFinished();
    if (isLoader && !finishedShown) {
        const float value = source->getProgress();
        if (value < 0.0f) {
            progress->setRange(0, 0); // busy indicator until the first progress value
        } else {
            progress->setRange(0, 1000);
            progress->setValue(static_cast<int>(value * 1000.0f + 0.5f));
        }
        progress->show();
    } else {
        progress->hide();
    }
    if (finishedShown) {
        dismiss->hide();
        if (isLoader || source->getType() == NOTIFICATION_EVENT)
            icon->setPixmap(NotificationIcons::icon(QStringLiteral("iconNotifiSuccess"), NOTIFICATION_EVENT)
                                .pixmap(22, 22));
        // Dimmed by the style sheet through the "finished" property.
        for (QWidget* w :
             {static_cast<QWidget*>(this), static_cast<QWidget*>(title), static_cast<QWidget*>(text)}) {
            w->setProperty("finished", true);
            w->style()->unpolish(w);
            w->style()->polish(w);
        }
    }
}

NotificationPanel::NotificationPanel(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("notificationPanel"));
    header = new QLabel(this);
    header->setObjectName(QStringLiteral("panelHeader"));
    empty = new QLabel(tr("No notifications"), this);
    empty->setObjectName(QStringLiteral("panelEmpty"));
    empty->setAlignment(Qt::AlignCenter);

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("notificationList"));
    list = new QVBoxLayout(content);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(6);
    list->addWidget(empty);
    list->addStretch(1);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);
    layout->addWidget(header);
    layout->addWidget(scroll, 1);

    NotificationManager& manager = NotificationManager::instance();
    connect(&manager, &NotificationManager::notificationAdded, this, &NotificationPanel::add);
    connect(&manager, &NotificationManager::notificationRemoved, this, &NotificationPanel::remove);
    for (Notification* n : manager.activeNotifications())
        add(n);
    updateHeader();
}

void NotificationPanel::add(Notification* notification) {
    if (!notification || cards.contains(notification))
        return;
    auto* card = new NotificationCard(notification);
    cards.insert(notification, card);
    list->insertWidget(0, card); // newest on top
    updateHeader();
}

void NotificationPanel::remove(Notification* notification) {
    NotificationCard* card = cards.take(notification);
    if (!card)
        return;
    card->hide();
    card->deleteLater();
    updateHeader();
}

void NotificationPanel::updateHeader() {
    header->setText(cards.isEmpty() ? tr("Notifications") : tr("Notifications (%1)").arg(cards.size()));
    empty->setVisible(cards.isEmpty());
    emit countChanged(cards.size());
}
