#include "app/sensorlistarea.h"

#include "app/pluginmanager.h"
#include "common/commonutilities.h"
#include "common/logentry.h"
#include "common/sensoraddressmobilecan.h"
#include "sdk/sensorscoutautomatic.h"
#include "sdk/sensorscoutmanual.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QVBoxLayout>

namespace {
constexpr int MAX_RECENT = 8;
const QString RECENT_KEY = QStringLiteral("sensors/recent");

QLabel* sectionTitle(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text.toUpper(), parent);
    label->setObjectName(QStringLiteral("sectionTitle"));
    return label;
}

QString describe(const SensorAdrSP_t& address) {
    return QStringLiteral("%1\n%2").arg(address->getName(), address->getPrintableAddress());
}
} // namespace

SensorListArea::SensorListArea(PluginManager& plugins, QWidget* parent) : QWidget(parent), plugins(plugins) {
    setObjectName(QStringLiteral("sideBar"));
    for (SensorScout* scout : plugins.scouts()) {
        if (auto* a = qobject_cast<SensorScoutAutomatic*>(scout))
            automatic << a;
        else if (auto* m = qobject_cast<SensorScoutManual*>(scout))
            if (!m->isDevOnly() || CommonUtilities::isDevMode())
                manual << m;
    }

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(12, 8, 12, 12);
    layout->setSpacing(8);

    // Automatic search
    layout->addWidget(sectionTitle(tr("Sensors on the network"), content));
    searchButton = new QPushButton(tr("Search"), content);
    searchButton->setObjectName(QStringLiteral("primaryButton"));
    searchButton->setEnabled(!automatic.isEmpty());
    searchButton->setToolTip(automatic.isEmpty() ? tr("None of the loaded plug-ins offers a sensor search")
                                                 : tr("Search all networks for sensors"));
    connect(searchButton, &QPushButton::clicked, this, &SensorListArea::startSearch);
    searchState = new QLabel(content);
    searchState->setObjectName(QStringLiteral("emptyHint"));
    searchState->setWordWrap(true);
    searchState->setText(automatic.isEmpty()
                             ? tr("No sensor search is available: the loaded plug-ins offer none.")
                             : tr("Press Search to look for sensors."));
    found = new QListWidget(content);
    found->setObjectName(QStringLiteral("foundSensors"));
    found->setMinimumHeight(90);
    found->setVisible(false);
    connect(found, &QListWidget::itemDoubleClicked, this, &SensorListArea::requestFromItem);
    connectButton = new QPushButton(tr("Connect"), content);
    connectButton->setObjectName(QStringLiteral("connectFound"));
    connectButton->setEnabled(false);
    connectButton->setVisible(false);
    connect(found, &QListWidget::currentRowChanged, this,
            [this](int row) { connectButton->setEnabled(row >= 0); });
    connect(connectButton, &QPushButton::clicked, this, [this] { requestFromItem(found->currentItem()); });
    layout->addWidget(searchButton);
    layout->addWidget(searchState);
    layout->addWidget(found);
    layout->addWidget(connectButton);
    for (SensorScoutAutomatic* scout : std::as_const(automatic))
        connect(scout, &SensorScout::done, this, [this, scout] { onSearchDone(scout); });

    // Manual connection forms
    layout->addSpacing(6);
    layout->addWidget(sectionTitle(tr("Manual connection"), content));
    buildManualForms(layout);

    // Recently used sensors
    layout->addSpacing(6);
    layout->addWidget(sectionTitle(tr("Recent sensors"), content));
    recent = new QListWidget(content);
    recent->setMinimumHeight(90);
    recent->setToolTip(tr("Double-click to connect again"));
    connect(recent, &QListWidget::itemDoubleClicked, this, &SensorListArea::requestFromItem);
    layout->addWidget(recent);
    layout->addStretch(1);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    // Recent sensors are stored as address XML; entries that no longer parse are dropped.
    const QStringList stored = CommonUtilities::gocSettings().value(RECENT_KEY).toStringList();
    for (const QString& xml : stored) {
        QString error;
        SensorAdrSP_t address = SensorAddress::fromXml(xml.toUtf8(), &error);
        if (address)
            recentAddresses << address;
        else
            LogEntry(LOG_WARNING, tr("A stored recent sensor was dropped: %1").arg(error));
    }
    showRecent();
}

void SensorListArea::buildManualForms(QVBoxLayout* layout) {
    if (manual.isEmpty()) {
        auto* none = new QLabel(tr("No connection form is available: the loaded plug-ins offer none."));
        none->setObjectName(QStringLiteral("emptyHint"));
        none->setWordWrap(true);
        layout->addWidget(none);
        return;
    }
    for (SensorScoutManual* scout : std::as_const(manual)) {
        auto* box = new QGroupBox(scout->getDisplayName());
        auto* boxLayout = new QVBoxLayout(box);
        QWidget* form = scout->createWidget(box);
        if (form)
            boxLayout->addWidget(form);
        layout->addWidget(box);
        connect(scout, &SensorScout::done, this, [this, scout] {
            const QList<SensorAdrSP_t> addresses = scout->getFoundSensors();
            if (!addresses.isEmpty() && addresses.first())
                emit connectRequested(addresses.first());
        });
    }
}

void SensorListArea::startSearch() {
    if (automatic.isEmpty() || searchesRunning > 0)
        return;
    foundAddresses.clear();
    found->clear();
    found->setVisible(false);
    connectButton->setVisible(false);
    searchButton->setEnabled(false);
    searchState->setText(tr("Searching..."));
    searchesRunning = automatic.size();
    for (SensorScoutAutomatic* scout : std::as_const(automatic))
        scout->startSearch();
}

void SensorListArea::onSearchDone(SensorScoutAutomatic* scout) {
    for (const SensorAdrSP_t& address : scout->getFoundSensors()) {
        if (!address)
            continue;
        // A sensor seen on several interfaces or ports is offered once.
        bool known = false;
        for (const SensorAdrSP_t& f : std::as_const(foundAddresses))
            known = known || f->isSameSensor(*address);
        if (known)
            continue;
        foundAddresses << address;
        auto* item = new QListWidgetItem(describe(address), found);
        item->setData(Qt::UserRole, QString::fromUtf8(address->serialize()));
    }
    if (--searchesRunning > 0)
        return;
    searchButton->setEnabled(true);
    found->setVisible(!foundAddresses.isEmpty());
    connectButton->setVisible(!foundAddresses.isEmpty());
    searchState->setText(foundAddresses.isEmpty()
                             ? tr("No sensor found.")
                             : tr("%n sensor(s) found.", nullptr, foundAddresses.size()));
}

int SensorListArea::foundSensorCount() const {
    return foundAddresses.size();
}

void SensorListArea::requestFromItem(QListWidgetItem* item) {
    if (!item)
        return;
    SensorAdrSP_t address = SensorAddress::fromXml(item->data(Qt::UserRole).toString().toUtf8());
    if (address)
        emit connectRequested(address);
}

void SensorListArea::addRecentSensor(const SensorAdrSP_t& address) {
    if (!address)
        return;
    for (int i = recentAddresses.size() - 1; i >= 0; --i)
        if (recentAddresses[i]->isSameSensor(*address))
            recentAddresses.removeAt(i);
    recentAddresses.prepend(address->clone());
    while (recentAddresses.size() > MAX_RECENT)
        recentAddresses.removeLast();
    saveRecent();
    showRecent();
}

QList<SensorAdrSP_t> SensorListArea::recentSensors() const {
    return recentAddresses;
}

void SensorListArea::showRecent() {
    recent->clear();
    for (const SensorAdrSP_t& address : std::as_const(recentAddresses)) {
        auto* item = new QListWidgetItem(describe(address), recent);
        item->setData(Qt::UserRole, QString::fromUtf8(address->serialize()));
    }
    if (recentAddresses.isEmpty()) {
        auto* item = new QListWidgetItem(tr("No sensor used yet"), recent);
        item->setFlags(Qt::NoItemFlags);
    }
}

void SensorListArea::saveRecent() {
    QStringList stored;
    for (const SensorAdrSP_t& address : std::as_const(recentAddresses))
        stored << QString::fromUtf8(address->serialize());
    CommonUtilities::gocSettings().setValue(RECENT_KEY, stored);
}
