// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CorvaneApp.h"

#include "platform/updates/UpdatesViewModel.h"
#include "ui/MainWindow.h"
#include "ui/UpdateDialogs.h"

#include <QApplication>
#include <QTimer>

namespace corvane {

CorvaneApp::CorvaneApp(QObject* parent) : QObject(parent) {}

CorvaneApp::~CorvaneApp() {
    updateDialogs_.reset();
    for (const QPointer<MainWindow>& window : windows_) delete window.data();
}

void CorvaneApp::configure(QCoreApplication& application) {
    application.setApplicationName(QStringLiteral("Corvane"));
    application.setOrganizationName(QStringLiteral("Corvane"));
    application.setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    // Desktops (Wayland's app id in particular) find the installed entry, and with it the icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.corvane.Corvane"));
}

MainWindow* CorvaneApp::openWindow() {
    if (!updates_) {
        updates_ = std::make_unique<UpdatesViewModel>();
        updateDialogs_ = std::make_unique<UpdateDialogs>(*updates_, [this]() -> QWidget* {
            const QList<MainWindow*> open = windows();
            return open.isEmpty() ? nullptr : open.back();
        });
    }
    auto* window = new MainWindow;
    connect(window, &MainWindow::newWindowRequested, this, &CorvaneApp::openWindow);
    connect(window, &MainWindow::quitRequested, this, &CorvaneApp::quit);
    connect(window, &MainWindow::updateCheckRequested, this, [this, window] { checkForUpdates(window); });
    windows_.removeAll(nullptr);
    windows_.append(window);
    connect(window, &QObject::destroyed, this, &CorvaneApp::windowGone);
    window->show();
    return window;
}

QList<MainWindow*> CorvaneApp::windows() const {
    QList<MainWindow*> open;
    for (const QPointer<MainWindow>& window : windows_)
        if (window) open.append(window.data());
    return open;
}

bool CorvaneApp::quit() {
    for (MainWindow* window : windows())
        if (window->isVisible() && !window->close()) return false;
    QCoreApplication::quit();
    return true;
}

void CorvaneApp::checkForUpdates(QWidget* requester) {
    if (updateDialogs_) updateDialogs_->checkForUpdates(requester);
}

void CorvaneApp::windowGone() {
    // Looked at once the window is gone entirely (its guards are cleared by then).
    QTimer::singleShot(0, this, [this] {
        // Every dialog belongs to a main window and went with it; the process ends with its last
        // window even where the platform would wait for other top-level windows.
        if (windows().isEmpty() && QGuiApplication::quitOnLastWindowClosed()) QCoreApplication::quit();
    });
}

}  // namespace corvane
