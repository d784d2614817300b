#pragma once

#include <QMainWindow>

#include <filesystem>
#include <memory>
#include <vector>

class QAction;

namespace corvane {

class CorvaneApp;
class ContentState;
class ContentView;
struct WindowServices;

// One main window: its own state and run, the content view, and the menus (File: New Window, Quit;
// Help: About Corvane, Check for Updates…). The engine's services behind the window (image reader,
// folder access with the folder prompt over this window) belong to it. Deleted when closed.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(CorvaneApp& app, QWidget* parent = nullptr);
    ~MainWindow() override;

    ContentState& state() { return *state_; }
    ContentView& content() { return *content_; }

    QAction* newWindowAction() const { return newWindowAction_; }
    QAction* quitAction() const { return quitAction_; }
    QAction* aboutAction() const { return aboutAction_; }
    QAction* checkForUpdatesAction() const { return checkForUpdatesAction_; }

private:
    void buildMenus(CorvaneApp& app);

    std::unique_ptr<WindowServices> services_;
    std::unique_ptr<ContentState> state_;
    ContentView* content_ = nullptr;
    QAction* newWindowAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* checkForUpdatesAction_ = nullptr;
};

}  // namespace corvane
