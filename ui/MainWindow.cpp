// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MainWindow.h"

#include "platform/system/FolderAccess.h"
#include "platform/image/ImageMetadataReader.h"
#include "platform/system/PosixFileSystem.h"
#include "platform/system/RunJournalStore.h"
#include "platform/system/SettingsGrantStore.h"
#include "ui/ContentFit.h"
#include "ui/ContentState.h"
#include "ui/ContentView.h"
#include "ui/DropZone.h"
#include "ui/QtFolderPrompt.h"

#include <QAction>
#include <QActionGroup>
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
#include <QSettings>

#include <span>

namespace corvane {
namespace {

// The sidecar name is the one choice the window remembers between launches: a library keeps its
// sidecars' naming, so the user makes the choice once. Kept as its word in the user's settings, beside
// the folder grants.
const QString sidecarNameKey = QStringLiteral("sidecarName");

SidecarName rememberedSidecarName() {
    const QByteArray word = QSettings(QStringLiteral("Corvane"), QStringLiteral("Corvane")).value(sidecarNameKey).toString().toUtf8();
    return sidecarNameFromWord(std::string_view(word.constData(), static_cast<size_t>(word.size()))).value_or(SidecarName::base);
}

void rememberSidecarName(SidecarName name) {
    const std::string_view word = wordFor(name);
    QSettings(QStringLiteral("Corvane"), QStringLiteral("Corvane"))
        .setValue(sidecarNameKey, QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size())));
}

// One item of a choice's submenu: its title and what its tooltip says of it.
struct ChoiceItem {
    const char* title;
    const char* hint;
};

constexpr ChoiceItem sidecarNameItems[] = {
    {"IMG_0001.xmp (Base Name)", "The image's name with its extension replaced, as Lightroom names sidecars."},
    {"IMG_0001.HEIC.xmp (Full Name)", "The image's whole name followed by .xmp, as darktable and digiKam name sidecars."},
    {"Either, Base Name First", "IMG_0001.xmp where it exists, else IMG_0001.HEIC.xmp."},
};
constexpr ChoiceItem coordinateFormItems[] = {
    {"Decimal (37.77490000N)", "Degrees with eight decimals."},
    {"XMP Standard (37,46.494000N)",
     "Degrees and minutes, the XMP specification's form: programs built on Exiv2, such as darktable and digiKam, read it."},
};

// A submenu of exclusive items, one per value of a choice (in the order of its enum), that follows the
// window's state. `write` is the user's choice of an item.
void addChoiceMenu(QMenu* run, const QString& title, std::span<const ChoiceItem> items, ContentState& state,
                   const std::function<size_t()>& read, const std::function<void(size_t)>& write) {
    QMenu* menu = run->addMenu(title);
    menu->setToolTipsVisible(true);
    auto* group = new QActionGroup(menu);
    for (size_t index = 0; index < items.size(); ++index) {
        QAction* action = menu->addAction(QString::fromUtf8(items[index].title));
        action->setCheckable(true);
        action->setToolTip(QString::fromUtf8(items[index].hint));
        action->setChecked(read() == index);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, menu, [write, index] { write(index); });
    }
    QObject::connect(&state, &ContentState::switchesChanged, menu,
                     [group, read] { group->actions().at(static_cast<qsizetype>(read()))->setChecked(true); });
}

}  // namespace

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

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), services_(std::make_unique<WindowServices>(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(applicationIcon());
    state_ = std::make_unique<ContentState>(
        WindowEngine{PosixFileSystem::shared(), services_->images, services_->access, &services_->journals});
    state_->setSidecarName(rememberedSidecarName());
    content_ = new ContentView(*state_, this);
    setCentralWidget(content_);
    buildMenus();
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
                                               QStringLiteral("Photos (*.heic *.HEIC *.heif *.HEIF *.hif *.HIF *.dng *.DNG);;All files (*)"));
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
    // Its journal says nothing the question could offer; the undo refuses, and its notice says why.
    if (run->unreadable) {
        state_->startUndo(*run);
        return;
    }
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
// state; below a separator the run's two choices, each a submenu of exclusive items.
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
    run->addSeparator();
    ContentState& state = *state_;
    addChoiceMenu(run, QStringLiteral("Sidecar Name"), sidecarNameItems, state,
                  [&state] { return static_cast<size_t>(state.sidecarName()); },
                  [&state](size_t index) {
                      state.setSidecarName(static_cast<SidecarName>(index));
                      rememberSidecarName(state.sidecarName());
                  });
    addChoiceMenu(run, QStringLiteral("Coordinate Form"), coordinateFormItems, state,
                  [&state] { return static_cast<size_t>(state.coordinateForm()); },
                  [&state](size_t index) { state.setCoordinateForm(static_cast<CoordinateForm>(index)); });
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    newWindowAction_ = file->addAction(QStringLiteral("New Window"), this, &MainWindow::newWindowRequested);
    newWindowAction_->setShortcut(QKeySequence::New);
    openFilesAction_ = file->addAction(QStringLiteral("Open Files\u2026"), this, [this] { open(Choose::files); });
    openFilesAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    openFolderAction_ = file->addAction(QStringLiteral("Open Folder\u2026"), this, [this] { open(Choose::folder); });
    openFolderAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    file->addSeparator();
    closeWindowAction_ = file->addAction(QStringLiteral("Close Window"), this, &QWidget::close);
    closeWindowAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    quitAction_ = file->addAction(QStringLiteral("Quit"), this, &MainWindow::quitRequested);
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
    checkForUpdatesAction_ = help->addAction(QStringLiteral("Check for Updates\u2026"), this, &MainWindow::updateCheckRequested);
    checkForUpdatesAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
    checkForUpdatesAction_->setMenuRole(QAction::ApplicationSpecificRole);
}

}  // namespace corvane
