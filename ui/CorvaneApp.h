// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <filesystem>
#include <memory>
#include <vector>

class QCoreApplication;

namespace corvane {

class MainWindow;
class UpdateDialogs;
class UpdatesViewModel;

// The application shell: opens main windows, each independent with its own state, and holds the one
// update service of the process, created when the first window is built and kept until the end, with
// the dialogs that show its answers over the windows. When the last main window closes the process
// ends, whatever dialog is open. Lives on the UI thread, beside the QApplication that main() creates.
class CorvaneApp : public QObject {
    Q_OBJECT
public:
    explicit CorvaneApp(QObject* parent = nullptr);
    ~CorvaneApp() override;

    // Names the application "Corvane" (organisation "Corvane"), which also places the user's settings,
    // and ties its windows to the installed desktop entry "io.github.corvane.Corvane.desktop".
    static void configure(QCoreApplication& application);

    // Builds and shows a new main window. The first one also starts the update service.
    MainWindow* openWindow();

    // The open windows, oldest first.
    QList<MainWindow*> windows() const;

    // Closes every window and ends the process, unless a window stays open (its run writes and the
    // user keeps it running): then nothing after it is closed, the process goes on, and it returns false.
    bool quit();

    // The update service; absent until the first window is built.
    UpdatesViewModel* updates() const { return updates_.get(); }

    // The "Check for Updates…" command of `requester`'s window: a user-initiated check with dialogs.
    void checkForUpdates(QWidget* requester);
    // The dialogs of the update service; absent until the first window is built.
    UpdateDialogs* updateDialogs() const { return updateDialogs_.get(); }

private:
    void windowGone();

    std::unique_ptr<UpdatesViewModel> updates_;
    std::unique_ptr<UpdateDialogs> updateDialogs_;
    QList<QPointer<MainWindow>> windows_;
};

}  // namespace corvane
