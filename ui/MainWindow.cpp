#include "ui/MainWindow.h"

#include "platform/FolderAccess.h"
#include "platform/ImageMetadataReader.h"
#include "platform/PosixFileSystem.h"
#include "platform/SettingsGrantStore.h"
#include "ui/ContentState.h"
#include "ui/ContentView.h"
#include "ui/CorvaneApp.h"
#include "ui/QtFolderPrompt.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>

namespace corvane {

// What one window's engine reads and asks through.
struct WindowServices {
    explicit WindowServices(QWidget* window) : prompt(window), access(PosixFileSystem::shared(), grants, prompt) {}

    ImageMetadataReader images;
    SettingsGrantStore grants;
    QtFolderPrompt prompt;
    FolderAccess access;
};

MainWindow::MainWindow(CorvaneApp& app, QWidget* parent)
    : QMainWindow(parent), services_(std::make_unique<WindowServices>(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Corvane"));
    state_ = std::make_unique<ContentState>(
        WindowEngine{PosixFileSystem::shared(), services_->images, services_->access});
    content_ = new ContentView(*state_, this);
    setCentralWidget(content_);
    buildMenus(app);
    resize(720, 640);
}

MainWindow::~MainWindow() {
    // The view reads the state while it is taken down, so it goes first.
    delete takeCentralWidget();
}

void MainWindow::buildMenus(CorvaneApp& app) {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    newWindowAction_ = file->addAction(QStringLiteral("New Window"), &app, [&app] { app.openWindow(); });
    newWindowAction_->setShortcut(QKeySequence::New);
    file->addSeparator();
    quitAction_ = file->addAction(QStringLiteral("Quit"), &app, [] {
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    quitAction_->setShortcut(QKeySequence::Quit);
    quitAction_->setMenuRole(QAction::QuitRole);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    aboutAction_ = help->addAction(QStringLiteral("About Corvane"), this, [this] {
        QMessageBox::about(this, QStringLiteral("About Corvane"),
                           QStringLiteral("<b>Corvane %1</b><p>Repairs the GPS position in XMP sidecar files: "
                                          "drop HEIC, HEIF or DNG photos with their .xmp sidecars.</p>")
                               .arg(QApplication::applicationVersion()));
    });
    aboutAction_->setMenuRole(QAction::AboutRole);
    checkForUpdatesAction_ = help->addAction(QStringLiteral("Check for Updates\u2026"), &app, [&app] { app.checkForUpdates(); });
    checkForUpdatesAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
    checkForUpdatesAction_->setMenuRole(QAction::ApplicationSpecificRole);
}

}  // namespace corvane
