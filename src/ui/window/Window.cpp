#include "ui/window/Window.h"

#include "core/Core.h"
#include "ui/UiScale.h"
#include "ui/commands/HistoryEntries.h"
#include "ui/ipc/ipc.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"
#include "ui/window/HistoryView.h"
#include "ui/window/ShowInExplorer.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

namespace kv::portal {

namespace {

Window* mainWindow = nullptr;

const char kDocumentationUrl[] = "https://www.kelmora.example/support/kvportal/documentation";

} // namespace

Window* Window::showMainWindow(QWidget* parent, Core* core, ICallbacks* callbacks) {
    if (mainWindow == nullptr) {
        new Window(parent, core);
    }
    mainWindow->central_->setCallbacks(callbacks);
    mainWindow->show();
    return mainWindow;
}

Window* Window::instance() {
    return mainWindow;
}

Window::Window(QWidget* parent, Core* core) : QMainWindow(parent) {
    QKVTheme* theme = QKVTheme::instance();
    theme->setColorPair(QKVTheme::MessageBackground, QColor(255, 227, 191), QColor(255, 227, 191));
    theme->setColorPair(QKVTheme::SummaryBackground, QColor(230, 230, 230), QColor(45, 45, 45));
    theme->setColorPair(QKVTheme::GroupBackground, QColor(230, 230, 230), QColor(28, 28, 28));
    theme->setColorPair(QKVTheme::TabBackground, QColor(210, 210, 210), QColor(18, 18, 18));

    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowTitle(QStringLiteral("KVPortal"));

    central_ = new Central(this, core);
    setCentralWidget(central_);
    resize(scaled(640), scaled(480));
    if (parent != nullptr) {
        // The client area, not the frame, is centred: the frame is not known before showing.
        QRect area(QPoint(), size());
        area.moveCenter(parent->mapToGlobal(parent->rect().center()));
        setGeometry(area);
    }

    mainWindow = this;
    theme->registerWindow(this);
    connect(&ipc::instance(), &ipc::signalSetWindowForeground, this,
            &Window::slotSetWindowForeground);
    buildMenus();
}

Window::~Window() {
    if (mainWindow == this) {
        mainWindow = nullptr;
    }
}

void Window::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("menuFile"));
    const auto addItem = [this](QMenu* menu, const char* objectName, const QString& label,
                                void (Window::*slot)()) {
        QAction* action = menu->addAction(label);
        action->setObjectName(QLatin1String(objectName));
        connect(action, &QAction::triggered, this, slot);
    };
    addItem(file, "actionRefresh", tr("&Refresh"), &Window::menuFileRefresh);
    addItem(file, "actionResync", tr("Resync With &Server"), &Window::menuFileResync);
    addItem(file, "actionOpenDownloads", tr("&Open Downloads Directory"),
            &Window::menuFileOpenDownloads);
    file->addSeparator();
    addItem(file, "actionQuit", tr("&Quit"), &Window::menuFileQuit);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    addItem(help, "actionDocumentation", tr("&Documentation"), &Window::menuHelpDocumentation);
    addItem(help, "actionHistory", tr("Update &History"), &Window::menuHelpHistory);
}

void Window::slotSetWindowForeground() {
    showNormal();
    raise();
    activateWindow();
}

void Window::menuFileRefresh() {
    // The sync that follows settles what failed jobs left on show.
    central_->core()->setForceRefresh();
    if (ICallbacks* callbacks = central_->callbacks()) {
        callbacks->refresh();
    }
}

void Window::menuFileResync() {
    central_->core()->setForceRefresh();
    central_->core()->startSync();
}

void Window::menuFileOpenDownloads() {
    showInExplorer(QString::fromStdString(central_->core()->downloadsDir()));
}

void Window::menuFileQuit() {
    close();
}

void Window::menuHelpDocumentation() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kDocumentationUrl)));
}

void Window::menuHelpHistory() {
    auto* view = new HistoryView(this, readHistoryFile(central_->core()->downloadsDir()));
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->show();
}

void Window::closeEvent(QCloseEvent* event) {
    if (central_->core()->firmwareUpdateActive()) {
        QKVTheme::instance()->showMessageBox(
            this, QStringLiteral("Kelmora Portal"),
            QStringLiteral("Cannot exit.\nFirmware update in process"), QMessageBox::Warning,
            QMessageBox::Ok);
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

} // namespace kv::portal
