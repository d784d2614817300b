// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MainWindow.h"

#include "platform/FolderAccess.h"
#include "platform/ImageMetadataReader.h"
#include "platform/PosixFileSystem.h"
#include "platform/RunJournalStore.h"
#include "platform/SettingsGrantStore.h"
#include "ui/ContentFit.h"
#include "ui/ContentState.h"
#include "ui/ContentView.h"
#include "ui/CorvaneApp.h"
#include "ui/DropZone.h"
#include "ui/QtFolderPrompt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QPushButton>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

namespace corvane {

QIcon applicationIcon() {
    // The installed theme icon where there is one; the copy built into the program otherwise.
    return QIcon::fromTheme(QStringLiteral("io.github.corvane.Corvane"), QIcon(QStringLiteral(":/icons/corvane.png")));
}

// What one window's engine reads and asks through.
struct WindowServices {
    explicit WindowServices(QWidget* window)
        : prompt(window), access(PosixFileSystem::shared(), grants, prompt), journals(RunJournalStore::defaultFolder()) {}

    ImageMetadataReader images;
    SettingsGrantStore grants;
    QtFolderPrompt prompt;
    FolderAccess access;
    RunJournalStore journals;
};

MainWindow::MainWindow(CorvaneApp& app, QWidget* parent)
    : QMainWindow(parent), services_(std::make_unique<WindowServices>(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(applicationIcon());
    state_ = std::make_unique<ContentState>(
        WindowEngine{PosixFileSystem::shared(), services_->images, services_->access, &services_->journals});
    content_ = new ContentView(*state_, this);
    setCentralWidget(content_);
    buildMenus(app);
    connect(content_->dropZone(), &DropZone::clicked, openFilesAction_, &QAction::trigger);
    // Nothing can be opened during a run, as nothing can be dropped.
    connect(state_.get(), &ContentState::runChanged, this, [this] {
        openFilesAction_->setEnabled(!state_->isProcessing());
        openFolderAction_->setEnabled(!state_->isProcessing());
        updateUndo();
    });
    connect(state_.get(), &ContentState::undoableRunChanged, this, &MainWindow::updateUndo);
    updateUndo();
    resize(defaultWindowSize(screen()->availableGeometry().size()));
}

std::vector<std::filesystem::path> MainWindow::nativeChooser(QWidget* parent, Choose what) {
    QStringList chosen;
    if (what == Choose::files) {
        chosen = QFileDialog::getOpenFileNames(parent, QStringLiteral("Open Files"), QString(),
                                               QStringLiteral("Photos (*.heic *.HEIC *.heif *.HEIF *.dng *.DNG);;All files (*)"));
    } else {
        const QString folder = QFileDialog::getExistingDirectory(parent, QStringLiteral("Open Folder"));
        if (!folder.isEmpty()) chosen.append(folder);
    }
    std::vector<std::filesystem::path> paths;
    for (const QString& name : chosen) paths.emplace_back(QFile::encodeName(name).toStdString());
    return paths;
}

void MainWindow::open(Choose what) {
    if (state_->isProcessing()) return;
    const std::vector<std::filesystem::path> chosen = chooser_(this, what);
    // Cancelling the dialog leaves the last run's results alone.
    if (!chosen.empty()) state_->handleChosen(chosen);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (state_->isWriting() && !confirmStoppingTheRun()) {
        event->ignore();
        return;
    }
    // No further file is started, whatever the event loop runs before the window is gone.
    state_->stopRun();
    QMainWindow::closeEvent(event);
}

bool MainWindow::confirmStoppingTheRun() {
    const RunProgress& run = state_->progress();
    QMessageBox question(QMessageBox::Warning, QStringLiteral("Stop Writing Sidecars?"),
                         QStringLiteral("Corvane is writing sidecars: %1 of %2 files done.").arg(run.processedCount).arg(run.totalCount),
                         QMessageBox::NoButton, this);
    question.setInformativeText(QStringLiteral("The file in progress is finished; the others are left as they are."));
    QPushButton* stop = question.addButton(QStringLiteral("Stop and Close"), QMessageBox::DestructiveRole);
    question.setDefaultButton(question.addButton(QStringLiteral("Keep Running"), QMessageBox::RejectRole));
    question.exec();
    return question.clickedButton() == stop;
}

void MainWindow::updateUndo() { undoLastRunAction_->setEnabled(!state_->isProcessing() && state_->lastRun()); }

void MainWindow::undoLastRun() {
    const std::optional<RunInfo> run = state_->lastRun();
    if (!run || state_->isProcessing()) return updateUndo();
    const QString when = QDateTime::fromMSecsSinceEpoch(
                             std::chrono::duration_cast<std::chrono::milliseconds>(run->started.time_since_epoch()).count())
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QMessageBox question(QMessageBox::Question, QStringLiteral("Undo Last Run?"),
                         QStringLiteral("%1 %2 will be restored to the text they had before the run of %3.")
                             .arg(run->replaced)
                             .arg(run->replaced == 1 ? QStringLiteral("sidecar") : QStringLiteral("sidecars"), when),
                         QMessageBox::NoButton, this);
    question.setInformativeText(QStringLiteral("A sidecar changed since the run is left as it is. The undo can be undone in turn."));
    QPushButton* undo = question.addButton(QStringLiteral("Undo Run"), QMessageBox::AcceptRole);
    question.setDefaultButton(question.addButton(QMessageBox::Cancel));
    question.exec();
    if (question.clickedButton() == undo) state_->startUndo(*run);
}

MainWindow::~MainWindow() {
    // The view reads the state while it is taken down, so it goes first.
    delete takeCentralWidget();
}

// The run's switches beyond the window's checkboxes, each a checkable item that follows the window's
// state; further choices of the run join them here, below a separator, as groups of exclusive items.
void MainWindow::buildRunMenu() {
    QMenu* run = menuBar()->addMenu(QStringLiteral("&Run"));
    run->setToolTipsVisible(true);
    struct Switch {
        const char* title;
        const char* hint;
        QAction** action;
        bool (*read)(const ContentState&);
        void (*write)(ContentState&, bool);
    };
    const Switch switches[] = {
        {"Always Overwrite", "Also bring sidecars whose position differs from the image's to the image's position.",
         &alwaysOverwriteAction_, [](const ContentState& s) { return s.alwaysOverwrite(); },
         [](ContentState& s, bool on) { s.setAlwaysOverwrite(on); }},
        {"Include All Devices", "Also process photos from other cameras than Apple's.", &includeAllDevicesAction_,
         [](const ContentState& s) { return !s.appleOnly(); }, [](ContentState& s, bool on) { s.setAppleOnly(!on); }},
    };
    for (const Switch& entry : switches) {
        QAction* action = run->addAction(QString::fromUtf8(entry.title));
        action->setCheckable(true);
        action->setToolTip(QString::fromUtf8(entry.hint));
        action->setChecked(entry.read(*state_));
        const auto write = entry.write;
        connect(action, &QAction::toggled, this, [this, write](bool on) { write(*state_, on); });
        const auto read = entry.read;
        connect(state_.get(), &ContentState::switchesChanged, action, [this, action, read] {
            const QSignalBlocker quiet(action);
            action->setChecked(read(*state_));
        });
        *entry.action = action;
    }
}

void MainWindow::buildMenus(CorvaneApp& app) {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    newWindowAction_ = file->addAction(QStringLiteral("New Window"), &app, [&app] { app.openWindow(); });
    newWindowAction_->setShortcut(QKeySequence::New);
    openFilesAction_ = file->addAction(QStringLiteral("Open Files\u2026"), this, [this] { open(Choose::files); });
    openFilesAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    openFolderAction_ = file->addAction(QStringLiteral("Open Folder\u2026"), this, [this] { open(Choose::folder); });
    openFolderAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    file->addSeparator();
    closeWindowAction_ = file->addAction(QStringLiteral("Close Window"), this, &QWidget::close);
    closeWindowAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    quitAction_ = file->addAction(QStringLiteral("Quit"), &app, [&app] { app.quit(); });
    quitAction_->setShortcut(QKeySequence::Quit);
    quitAction_->setMenuRole(QAction::QuitRole);

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    // A window shortcut: a text field with the focus takes Ctrl+Z for its own undo first.
    undoLastRunAction_ = edit->addAction(QStringLiteral("Undo Last Run"), this, &MainWindow::undoLastRun);
    undoLastRunAction_->setShortcut(QKeySequence::Undo);
    // Another window's run may have ended meanwhile.
    connect(edit, &QMenu::aboutToShow, this, &MainWindow::updateUndo);

    buildRunMenu();

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    aboutAction_ = help->addAction(QStringLiteral("About Corvane"), this, [this] {
        QMessageBox::about(this, QStringLiteral("About Corvane"),
                           QStringLiteral("<b>Corvane %1</b><p>Repairs the GPS position in XMP sidecar files: "
                                          "drop HEIC, HEIF or DNG photos with their .xmp sidecars.</p>")
                               .arg(QApplication::applicationVersion()));
    });
    aboutAction_->setMenuRole(QAction::AboutRole);
    checkForUpdatesAction_ =
        help->addAction(QStringLiteral("Check for Updates\u2026"), &app, [&app, this] { app.checkForUpdates(this); });
    checkForUpdatesAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
    checkForUpdatesAction_->setMenuRole(QAction::ApplicationSpecificRole);
}

}  // namespace corvane
