#include "ui/CorvaneApp.h"

#include "platform/UpdatesViewModel.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>

namespace corvane {

CorvaneApp::CorvaneApp(QObject* parent) : QObject(parent) {}

CorvaneApp::~CorvaneApp() {
    for (const QPointer<MainWindow>& window : windows_) delete window.data();
}

void CorvaneApp::configure(QCoreApplication& application) {
    application.setApplicationName(QStringLiteral("Corvane"));
    application.setOrganizationName(QStringLiteral("Corvane"));
    application.setApplicationVersion(QStringLiteral(CORVANE_VERSION));
}

MainWindow* CorvaneApp::openWindow() {
    if (!updates_) updates_ = std::make_unique<UpdatesViewModel>();
    auto* window = new MainWindow(*this);
    windows_.removeAll(nullptr);
    windows_.append(window);
    window->show();
    return window;
}

QList<MainWindow*> CorvaneApp::windows() const {
    QList<MainWindow*> open;
    for (const QPointer<MainWindow>& window : windows_)
        if (window) open.append(window.data());
    return open;
}

void CorvaneApp::checkForUpdates() {
    if (updates_) updates_->checkForUpdates();
}

}  // namespace corvane
