#include "app/apptheme.h"

#include "common/styleproxy.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QPalette>
#include <QStyleFactory>

namespace {
QString colour(const char* name, const char* fallback) {
    const QColor c = StyleProxy::getProperty(name, QColor(QString::fromLatin1(fallback))).value<QColor>();
    return (c.isValid() ? c : QColor(QString::fromLatin1(fallback))).name();
}
} // namespace

namespace AppTheme {

void apply(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString window = colour("windowBackground", "#1e2328");
    const QString panel = colour("panelBackground", "#262c33");
    const QString text = colour("textColor", "#d7dde4");
    const QString muted = colour("mutedTextColor", "#8b96a3");
    const QString accent = colour("accentColor", "#2f8fdd");

    QPalette p;
    p.setColor(QPalette::Window, QColor(window));
    p.setColor(QPalette::WindowText, QColor(text));
    p.setColor(QPalette::Base, QColor(QStringLiteral("#1a1e22")));
    p.setColor(QPalette::AlternateBase, QColor(panel));
    p.setColor(QPalette::ToolTipBase, QColor(panel));
    p.setColor(QPalette::ToolTipText, QColor(text));
    p.setColor(QPalette::Text, QColor(text));
    p.setColor(QPalette::Button, QColor(QStringLiteral("#2d343c")));
    p.setColor(QPalette::ButtonText, QColor(text));
    p.setColor(QPalette::Highlight, QColor(accent));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(muted));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(muted));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(muted));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(muted));
    p.setColor(QPalette::Link, QColor(accent));
    app.setPalette(p);

    QFont font = app.font();
    font.setPointSizeF(9.5);
    app.setFont(font);

    app.setStyleSheet(QStringLiteral(R"(
QMainWindow::separator { background: %1; width: 1px; height: 1px; }
QToolBar { background: %2; border: none; border-bottom: 1px solid #14181b; spacing: 4px; padding: 4px 8px; }
QToolBar QToolButton { padding: 5px 10px; border-radius: 4px; color: %3; }
QToolBar QToolButton:hover { background: #343c45; }
QToolBar QToolButton:checked { background: #2b3d50; color: white; }
QStatusBar { background: %2; color: %4; border-top: 1px solid #14181b; }
QStatusBar QLabel { color: %4; padding: 0 8px; }
QDockWidget { color: %4; font-weight: 600; }
QDockWidget::title { background: %2; padding: 6px 8px; border-bottom: 1px solid #14181b; }
#sideBar, #notificationPanel { background: %2; }
#sectionTitle { color: %4; font-size: 8.5pt; font-weight: 700; letter-spacing: 1px; padding-top: 6px; }
#panelHeader { font-size: 10.5pt; font-weight: 600; }
#panelEmpty, #emptyHint { color: %4; padding: 18px; }
#notificationCard { background: #2d343c; border-radius: 5px; }
#notificationCard[finished="true"] { background: #272d34; }
#notificationTitle { font-weight: 600; color: white; }
#notificationTitle[finished="true"], #notificationText[finished="true"] { color: %4; }
#notificationText { color: %3; }
#notificationDetail, #notificationTime { color: %4; font-size: 8.5pt; }
#notificationDismiss { border: none; color: %4; padding: 0 2px; }
#notificationDismiss:hover { color: white; }
QProgressBar { background: #1a1e22; border: none; border-radius: 3px; }
QProgressBar::chunk { background: %5; border-radius: 3px; }
#homeTitle { font-size: 20pt; font-weight: 300; color: white; }
#homeSubtitle { color: %4; font-size: 10.5pt; }
#typeCard { background: %2; border: 1px solid #333b44; border-radius: 6px; }
#typeCardTitle { font-size: 12pt; font-weight: 600; color: white; }
#typeCardText { color: %4; }
#problemBox { background: #3a2426; border: 1px solid #6b3236; border-radius: 6px; }
#problemBox QLabel { color: #f0c4c4; }
QPushButton { background: #2d343c; border: 1px solid #3b444e; border-radius: 4px; padding: 5px 14px; }
QPushButton:hover { background: #353e48; }
QPushButton:pressed { background: #262c33; }
QPushButton:disabled { color: %4; border-color: #2d343c; }
QPushButton#primaryButton { background: %5; border-color: %5; color: white; font-weight: 600; }
QPushButton#primaryButton:hover { background: #3d9be6; }
QPushButton#primaryButton:disabled { background: #2b3d50; border-color: #2b3d50; color: #8ea9c4; }
QListWidget, QTableView, QTreeWidget { background: #1a1e22; border: 1px solid #30373f; border-radius: 4px; }
QListWidget::item { padding: 6px 4px; }
QListWidget::item:selected { background: #2b3d50; color: white; }
QHeaderView::section { background: %2; color: %4; border: none; border-bottom: 1px solid #30373f; padding: 4px 6px; }
QGroupBox { border: 1px solid #333b44; border-radius: 6px; margin-top: 14px; padding-top: 6px; }
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 4px; color: %4; }
QLineEdit, QComboBox, QSpinBox { background: #1a1e22; border: 1px solid #3b444e; border-radius: 4px; padding: 4px 6px; }
QLineEdit:focus, QComboBox:focus, QSpinBox:focus { border-color: %5; }
QScrollArea { background: transparent; }
QScrollArea > QWidget > QWidget { background: transparent; }
)")
                          .arg(QStringLiteral("#14181b"), panel, text, muted, accent));
}

} // namespace AppTheme
