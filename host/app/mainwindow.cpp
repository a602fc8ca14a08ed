#include "app/mainwindow.h"

#include "app/replaywindow.h"
#include "sdk/replaydataview.h"

#include "app/aboutdialog.h"
#include "app/logview.h"
#include "app/pluginmanager.h"
#include "app/sensorlistarea.h"
#include "app/settingsdialog.h"
#include "common/commonutilities.h"
#include "common/notification.h"
#include "common/notificationmanager.h"
#include "gui_controls/notificationicons.h"
#include "gui_controls/notificationpanel.h"
#include "sdk/sensorgui.h"
#include "sdk/sensortype.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

MainHostFrame::MainHostFrame(MainWindow& window) : HostFrame(&window), window(window) {}

void MainHostFrame::closeSensorGUI() {
    window.closeSensorGUI();
}

void MainHostFrame::showScreen(QWidget* screen) {
    window.showScreen(screen);
}

void MainHostFrame::reconnect(SensorAdrSP_t address) {
    window.closeSensorGUI();
    // Let the old controller go first: the sensor may still be releasing the connection.
    QTimer::singleShot(0, &window, [this, address] { window.connectToSensor(address); });
}

void MainHostFrame::disconnectSensor() {
    window.disconnectSensor();
}

void MainHostFrame::showMainSettings() {
    window.showMainSettings();
}

MainWindow::MainWindow(PluginManager& plugins, QWidget* parent) : QMainWindow(parent), plugins(plugins) {
    setWindowTitle(QStringLiteral("OrlanGUI"));
    setObjectName(QStringLiteral("mainWindow"));
    setAcceptDrops(true); // a dropped recording opens in a replay window
    resize(1280, 800);
    hostFrame = new MainHostFrame(*this);

    sensors = new SensorListArea(plugins, this);
    sensors->setMinimumWidth(280);
    connect(sensors, &SensorListArea::connectRequested, this, &MainWindow::connectToSensor);

    screens = new QStackedWidget(this);
    home = buildHome();
    screens->addWidget(home);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("mainSplitter"));
    splitter->addWidget(sensors);
    splitter->addWidget(screens);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({320, 900});
    splitter->setChildrenCollapsible(false);
    setCentralWidget(splitter);

    notifications = new NotificationPanel(this);
    auto* notificationDock = new QDockWidget(tr("Notifications"), this);
    notificationDock->setObjectName(QStringLiteral("notificationDock"));
    notificationDock->setWidget(notifications);
    notificationDock->setTitleBarWidget(new QWidget(notificationDock)); // the panel has its own header
    notificationDock->setMinimumWidth(300);
    addDockWidget(Qt::RightDockWidgetArea, notificationDock);

    log = new LogView(this);
    auto* logDock = new QDockWidget(tr("Log"), this);
    logDock->setObjectName(QStringLiteral("logDock"));
    logDock->setWidget(log);
    addDockWidget(Qt::BottomDockWidgetArea, logDock);
    resizeDocks({logDock}, {170}, Qt::Vertical);

    // Menus and tool bar
    QAction* search = new QAction(tr("&Search Sensors"), this);
    search->setShortcut(QKeySequence::Refresh);
    connect(search, &QAction::triggered, sensors, &SensorListArea::startSearch);
    QAction* disconnect = new QAction(tr("&Disconnect"), this);
    connect(disconnect, &QAction::triggered, this, &MainWindow::disconnectSensor);
    QAction* settings = new QAction(tr("S&ettings..."), this);
    settings->setShortcut(QKeySequence::Preferences);
    connect(settings, &QAction::triggered, this, &MainWindow::showMainSettings);
    QAction* replay = new QAction(tr("Open &Recording..."), this);
    replay->setShortcut(QKeySequence::Open);
    connect(replay, &QAction::triggered, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, tr("Open Recording"), CommonUtilities::getDefaultCaptureDir());
        if (!file.isEmpty())
            openRecording(file);
    });
    QAction* quit = new QAction(tr("&Quit"), this);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    QAction* about = new QAction(tr("&About OrlanGUI"), this);
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
    QAction* showNotifications = notificationDock->toggleViewAction();
    showNotifications->setText(tr("&Notifications"));
    QAction* showLog = logDock->toggleViewAction();
    showLog->setText(tr("&Log"));

    QMenu* file = menuBar()->addMenu(tr("&Sensor"));
    file->addAction(search);
    file->addAction(disconnect);
    file->addAction(replay);
    file->addSeparator();
    file->addAction(settings);
    file->addSeparator();
    file->addAction(quit);
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(showNotifications);
    view->addAction(showLog);
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(about);

    QToolBar* bar = addToolBar(tr("Main"));
    bar->setObjectName(QStringLiteral("mainToolBar"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->addAction(search);
    bar->addAction(disconnect);
    auto* spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    bar->addAction(showNotifications);
    bar->addAction(showLog);
    bar->addAction(settings);
    bar->addAction(about);
    connect(notifications, &NotificationPanel::countChanged, this, [showNotifications](int count) {
        showNotifications->setText(count > 0 ? tr("Notifications (%1)").arg(count) : tr("Notifications"));
    });

    pluginStatus = new QLabel(this);
    sensorStatus = new QLabel(this);
    statusBar()->addWidget(sensorStatus, 1);
    statusBar()->addPermanentWidget(pluginStatus);
    updateStatus();

    QSettings& store = CommonUtilities::gocSettings();
    restoreGeometry(store.value(QStringLiteral("window/geometry")).toByteArray());
    restoreState(store.value(QStringLiteral("window/state")).toByteArray());

    reportRefusals();
}

MainWindow::~MainWindow() {
    if (gui)
        delete gui;
}

QWidget* MainWindow::buildHome() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("homePage"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(48, 40, 48, 40);
    layout->setSpacing(10);

    auto* title = new QLabel(tr("No sensor connected"), page);
    title->setObjectName(QStringLiteral("homeTitle"));
    auto* subtitle =
        new QLabel(tr("Search the network for sensors or enter a sensor's address in a connection "
                      "form on the left. Sensors used before are listed under Recent sensors."),
                   page);
    subtitle->setObjectName(QStringLiteral("homeSubtitle"));
    subtitle->setWordWrap(true);
    layout->addWidget(title);
    layout->addWidget(subtitle);
    layout->addSpacing(18);

    auto* typesTitle = new QLabel(tr("SUPPORTED SENSOR TYPES"), page);
    typesTitle->setObjectName(QStringLiteral("sectionTitle"));
    layout->addWidget(typesTitle);
    auto* grid = new QGridLayout;
    grid->setSpacing(12);
    int column = 0;
    for (const PluginManager::LoadedPlugin& p : plugins.plugins()) {
        for (SensorType* type : p.sensorTypes) {
            auto* card = new QFrame(page);
            card->setObjectName(QStringLiteral("typeCard"));
            auto* cardLayout = new QVBoxLayout(card);
            cardLayout->setContentsMargins(16, 12, 16, 12);
            auto* name = new QLabel(type->getName(), card);
            name->setObjectName(QStringLiteral("typeCardTitle"));
            const QString scouts = p.scouts.isEmpty()
                                       ? tr("no sensor search or connection form yet")
                                       : tr("%n way(s) to find sensors", nullptr, p.scouts.size());
            auto* text =
                new QLabel(tr("Plug-in %1\n%2").arg(QFileInfo(p.filePath).completeBaseName(), scouts), card);
            text->setObjectName(QStringLiteral("typeCardText"));
            cardLayout->addWidget(name);
            cardLayout->addWidget(text);
            card->setMinimumWidth(220);
            grid->addWidget(card, column / 3, column % 3);
            ++column;
        }
    }
    if (column == 0) {
        auto* none = new QLabel(tr("No device plug-in is loaded. Plug-ins are searched in %1.")
                                    .arg(PluginManager::defaultSearchPaths().join(QStringLiteral(", "))),
                                page);
        none->setObjectName(QStringLiteral("emptyHint"));
        none->setWordWrap(true);
        grid->addWidget(none, 0, 0);
    }
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);

    if (!plugins.refusals().isEmpty()) {
        auto* box = new QFrame(page);
        box->setObjectName(QStringLiteral("problemBox"));
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(14, 10, 14, 10);
        auto* head = new QLabel(tr("<b>%n file(s) in the plug-in folders could not be used</b>", nullptr,
                                   plugins.refusals().size()),
                                box);
        boxLayout->addWidget(head);
        for (const PluginManager::Refusal& r : plugins.refusals()) {
            auto* line =
                new QLabel(QStringLiteral("%1: %2").arg(QFileInfo(r.filePath).fileName(), r.reason), box);
            line->setWordWrap(true);
            line->setToolTip(r.filePath);
            boxLayout->addWidget(line);
        }
        layout->addSpacing(12);
        layout->addWidget(box);
    }
    layout->addStretch(1);
    return page;
}

void MainWindow::reportRefusals() {
    for (const PluginManager::Refusal& r : plugins.refusals()) {
        auto* n = new GenericNotification(
            tr("Plug-in not loaded"),
            tr("%1 was refused: %2").arg(QFileInfo(r.filePath).fileName(), r.reason), NOTIFICATION_WARNING);
        n->setDetail(r.filePath);
        NotificationManager::instance().displayNotification(n, true);
    }
}

void MainWindow::updateStatus() {
    const int refused = plugins.refusals().size();
    pluginStatus->setText(refused ? tr("%n plug-in(s) loaded", nullptr, plugins.plugins().size()) + tr(", ") +
                                        tr("%n refused", nullptr, refused)
                                  : tr("%n plug-in(s) loaded", nullptr, plugins.plugins().size()));
    sensorStatus->setText(
        gui && sensorAddress
            ? tr("Connected to %1 (%2)").arg(sensorAddress->getName(), sensorAddress->getPrintableAddress())
            : tr("No sensor connected"));
}

void MainWindow::fail(const QString& title, const QString& text) {
    NotificationManager::instance().displayNotification(
        new GenericNotification(title, text, NOTIFICATION_ERROR), true);
}

bool MainWindow::connectToSensor(SensorAdrSP_t address) {
    if (!address)
        return false;
    if (connecting) {
        NotificationManager::instance().displayNotification(
            new GenericNotification(tr("Connection in progress"),
                                    tr("Wait until the current connection attempt has finished."),
                                    NOTIFICATION_INFO),
            true);
        return false;
    }
    if (gui)
        closeSensorGUI();
    SensorType* type = plugins.sensorTypeFor(address->getSensorTypeId());
    if (!type) {
        fail(tr("No plug-in for this sensor"),
             tr("None of the loaded plug-ins supports the sensor type \"%1\".")
                 .arg(QString::fromLatin1(address->getSensorTypeId())));
        return false;
    }
    SensorSP_t newSensor = type->createSensor(address);
    if (!newSensor) {
        fail(tr("Cannot connect"),
             tr("The %1 plug-in cannot make a connection to %2 (%3).")
                 .arg(type->getName(), address->getName(), address->getPrintableAddress()));
        return false;
    }
    SensorGUI* newGui = type->createSensorGUI(newSensor, GUI_TYPE_DEFAULT);
    if (!newGui) {
        fail(tr("Cannot connect"),
             tr("The %1 plug-in offers no user interface for %2.").arg(type->getName(), address->getName()));
        return false;
    }
    auto* progress = new LoaderNotification(
        tr("Connecting"),
        tr("Connecting to %1 (%2)").arg(address->getName(), address->getPrintableAddress()));
    NotificationManager::instance().displayNotification(progress, true);
    connect(newGui, &SensorGUI::percentageLoaded, progress,
            [progress](int percent) { progress->updateProgress(percent / 100.0f); });
    gui = newGui;
    sensor = newSensor;
    sensorAddress = address;
    QPointer<SensorGUI> started(newGui); // the controller may close itself while it starts
    connecting = true;
    const int result = newGui->start(hostFrame);
    connecting = false;
    progress->onNotificationFinished();
    if (result != 0) {
        NotificationManager::instance().displayNotification(result, address->getPrintableAddress());
        gui = nullptr;
        sensor.clear();
        sensorAddress.clear();
        delete started.data();
        screens->setCurrentWidget(home);
        updateStatus();
        return false;
    }
    if (!started || gui != started) // closed again during its start
        return false;
    sensors->addRecentSensor(address);
    updateStatus();
    return true;
}

void MainWindow::closeSensorGUI() {
    // Screens belong to the controller; take them out of the stack without deleting them.
    for (int i = screens->count() - 1; i >= 0; --i) {
        QWidget* w = screens->widget(i);
        if (w != home)
            screens->removeWidget(w);
    }
    screens->setCurrentWidget(home);
    if (gui)
        gui->deleteLater();
    gui = nullptr;
    sensor.clear();
    sensorAddress.clear();
    updateStatus();
}

void MainWindow::disconnectSensor() {
    if (gui)
        gui->shutDown();
    if (gui) // a controller that did not close itself
        closeSensorGUI();
}

void MainWindow::showScreen(QWidget* screen) {
    if (!screen)
        return;
    if (screens->indexOf(screen) < 0)
        screens->addWidget(screen);
    screens->setCurrentWidget(screen);
}

void MainWindow::showMainSettings() {
    SettingsDialog dialog(this);
    dialog.exec();
}

void MainWindow::showAbout() {
    AboutDialog dialog(plugins, this);
    dialog.exec();
}

ReplayWindow* MainWindow::openRecording(const QString& fileName, const QString& page) {
    // The first plug-in that shows recordings gets the file (each loaded plug-in has its kind).
    ReplayDataView* view = nullptr;
    for (SensorType* type : plugins.sensorTypes())
        if ((view = type->createReplayDataView()))
            break;
    auto* window = new ReplayWindow(view, this);
    window->setWindowFlag(Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->resize(1100, 760);
    connect(window, &ReplayWindow::recordingDropped, this,
            [this](const QString& file) { openRecording(file); });
    window->show();
    if (!window->open(fileName, page))
        LogEntry(LOG_ERROR, tr("Cannot replay %1: %2").arg(fileName, window->errorText()));
    return window;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().value(0).isLocalFile())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QUrl url = event->mimeData()->urls().value(0);
    if (url.isLocalFile()) {
        event->acceptProposedAction();
        openRecording(url.toLocalFile());
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (gui)
        disconnectSensor();
    QSettings& store = CommonUtilities::gocSettings();
    store.setValue(QStringLiteral("window/geometry"), saveGeometry());
    store.setValue(QStringLiteral("window/state"), saveState());
    event->accept();
}
