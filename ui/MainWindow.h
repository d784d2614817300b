// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCloseEvent;
class QIcon;

namespace corvane {

class ContentState;
class ContentView;
struct WindowServices;

// The program's icon: the desktop theme's, else the one built into the program.
QIcon applicationIcon();

// One main window: its own state and run, the content view, and the menus (File: New Window, Open
// Files…, Open Folder…, Close Window, Quit; Edit: Undo Last Run, Ctrl+Z, enabled while a run that
// replaced sidecars can be undone and none is in progress, which asks first, over the window, how many
// sidecars are to be restored; Run: the switches beyond the window's checkboxes, Always Overwrite and
// Include All Devices, off at every launch, and the choices Sidecar Name, which the window remembers in
// the user's settings, and Coordinate Form; Help: About Corvane, Check for Updates…). The
// engine's services behind the window (image reader, folder access with the folder prompt over this
// window) belong to it. It opens at its preferred size where the screen has room for it, smaller where
// it has not. Deleted when closed.
//
// Open Files… and Open Folder… (and a click, Enter or Space on the drop zone) ask a file chooser and
// hand its answer to the window's state the way a drop is handed over; they are off during a run.
//
// What reaches beyond the window (New Window, Quit, Check for Updates…) it only announces as a signal;
// whoever opened the window connects them.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    enum class Choose { files, folder };
    // Asks the user for files or a folder over `parent`; an empty answer means the user cancelled.
    using FileChooser = std::function<std::vector<std::filesystem::path>(QWidget* parent, Choose what)>;
    // The desktop's own (native) file dialogs.
    static std::vector<std::filesystem::path> nativeChooser(QWidget* parent, Choose what);

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ContentState& state() { return *state_; }
    ContentView& content() { return *content_; }

    // Replaces the file chooser (tests answer without a dialog).
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    QAction* newWindowAction() const { return newWindowAction_; }
    QAction* openFilesAction() const { return openFilesAction_; }
    QAction* openFolderAction() const { return openFolderAction_; }
    QAction* closeWindowAction() const { return closeWindowAction_; }
    QAction* undoLastRunAction() const { return undoLastRunAction_; }
    QAction* alwaysOverwriteAction() const { return alwaysOverwriteAction_; }
    QAction* includeAllDevicesAction() const { return includeAllDevicesAction_; }
    QAction* quitAction() const { return quitAction_; }
    QAction* aboutAction() const { return aboutAction_; }
    QAction* checkForUpdatesAction() const { return checkForUpdatesAction_; }

signals:
    // The user asked for another window (File > New Window).
    void newWindowRequested();
    // The user asked to end the program (File > Quit).
    void quitRequested();
    // The user asked for an update check with dialogs over this window (Help > Check for Updates…).
    void updateCheckRequested();

protected:
    // Closing the window ends its run; a run that writes is ended only when the user confirms it.
    void closeEvent(QCloseEvent* event) override;

private:
    bool confirmStoppingTheRun();
    void buildMenus();
    void buildRunMenu();
    void open(Choose what);
    void updateUndo();
    void undoLastRun();

    std::unique_ptr<WindowServices> services_;
    std::unique_ptr<ContentState> state_;
    ContentView* content_ = nullptr;
    FileChooser chooser_ = nativeChooser;
    QAction* newWindowAction_ = nullptr;
    QAction* openFilesAction_ = nullptr;
    QAction* openFolderAction_ = nullptr;
    QAction* closeWindowAction_ = nullptr;
    QAction* undoLastRunAction_ = nullptr;
    QAction* alwaysOverwriteAction_ = nullptr;
    QAction* includeAllDevicesAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* checkForUpdatesAction_ = nullptr;
};

}  // namespace corvane
