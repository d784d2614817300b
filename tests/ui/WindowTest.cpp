// SPDX-License-Identifier: GPL-3.0-or-later
// The window as the user meets it: what shows after launch, the badge and the switches, a file
// manager's drop, the keyboard's routes through the window and its list, the menus, further windows,
// the update dialog over them, the folder chooser, the icons, small screens, the list while a run goes
// on, what screen readers get, and the command line answered without a display.

#include "WindowTestSupport.h"
#include "tests/support/ChildProcess.h"

#include "engine/RunSettings.h"
#include "platform/system/RunJournalStore.h"
#include "ui/ContentFit.h"
#include "ui/ContentView.h"
#include "ui/CorvaneApp.h"
#include "ui/DropZone.h"
#include "ui/MainWindow.h"
#include "ui/OutcomeIcon.h"
#include "ui/QtFolderPrompt.h"
#include "ui/ResultListModel.h"
#include "ui/ResultListView.h"
#include "ui/ResultRowDelegate.h"
#include "ui/Theme.h"
#include "ui/UpdateDialogs.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QtTest>
#include <QtWidgets>

#include <functional>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// What the drop zone answered to a drag: to its entry, and to the drop, with the action it took.
struct DropAnswer {
    bool entered, dropped;
    Qt::DropAction enterAction, dropAction;  // what the source is shown while the drag hovers, and after
    bool highlighted;                        // while the drag hovered
};

// Delivers a drag as the window system does: entering the zone, then the drop, with the actions the
// source offers and the one the keys held propose (a file manager moves with Shift, links with Alt).
DropAnswer dragOnto(DropZone& zone, const QMimeData& mime, Qt::DropActions offered, Qt::DropAction proposed) {
    const QPointF centre = QRectF(zone.rect()).center();
    const Qt::KeyboardModifiers keys = proposed == Qt::MoveAction   ? Qt::ShiftModifier
                                       : proposed == Qt::LinkAction ? Qt::AltModifier
                                                                    : Qt::NoModifier;
    QDragEnterEvent enter(centre.toPoint(), offered, &mime, Qt::LeftButton, keys);
    QCoreApplication::sendEvent(&zone, &enter);
    const bool highlighted = zone.isHighlighted();
    QDropEvent drop(centre, offered, &mime, Qt::LeftButton, keys);
    QCoreApplication::sendEvent(&zone, &drop);
    return DropAnswer{enter.isAccepted(), drop.isAccepted(), enter.dropAction(), drop.dropAction(), highlighted && !zone.isHighlighted()};
}

// A dark palette the window must stay readable in (Breeze Dark's colours, as KDE ships them).
QPalette darkPalette() {
    QPalette palette;
    for (const auto& [role, rgb] : {std::pair{QPalette::Window, 0x202326}, {QPalette::Base, 0x141618}, {QPalette::WindowText, 0xfcfcfc},
                                    {QPalette::Text, 0xfcfcfc}, {QPalette::Link, 0x1d99f3}, {QPalette::Highlight, 0x3daee9}})
        palette.setColor(role, QColor::fromRgb(QRgb(rgb)));
    return palette;
}

QStringList titles(const QList<QAction*>& actions) {
    QStringList texts;
    for (QAction* action : actions)
        if (!action->isSeparator())
            texts.append((action->text().remove(QLatin1Char('&')) + QLatin1Char(' ') + action->shortcut().toString()).trimmed());
    return texts;
}

QList<QDialog*> openDialogs() {
    QList<QDialog*> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) dialogs.append(dialog);
    return dialogs;
}

// The application with one window open and active, and that window's parts.
struct Shell {
    CorvaneApp app;
    MainWindow& window = *app.openWindow();
    ContentView& view = window.content();
    ContentState& state = window.state();
    ResultListView& list = *view.resultList();

    Shell() {
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window)) qWarning("the window did not become active");
    }
    QString row(int index, int role = Qt::DisplayRole) const { return view.resultModel().index(index).data(role).toString(); }
    ResultRowDelegate::Layout layout(int index) const {
        const QModelIndex at = view.resultModel().index(index);
        return list.rowDelegate().layout(list.rowOption(at), at);
    }
};

// On an X server, starts the session's accessibility bus, which brings Qt's AT-SPI bridge up, as a
// screen reader's start does; false where there is none (offscreen).
bool listenLikeAScreenReader() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
    return QTest::qWaitFor([] { return QAccessible::isActive(); }, 10000);
}

// Answers the next modal folder chooser once it is on screen.
void answerChooser(std::function<void(QFileDialog&)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return answerChooser(answer);  // not shown yet
        answer(*dialog);
    });
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Diagnostics::setSink({});
        QApplication::setQuitOnLastWindowClosed(false);  // until the last test
        // The shell's settings (folder grants, updater preferences) and the undo journals go to a throw-away folder.
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((settings_.path() / "config").string()));
        qputenv("XDG_STATE_HOME", QByteArray::fromStdString((settings_.path() / "state").string()));
        CorvaneApp::configure(*QCoreApplication::instance());
    }

    void afterLaunchTheWindowShowsDryRunAndNothingElse() {
        RunSettings::shared().publish({.dryRun = false, .silentlyIgnoreSkipped = true});
        Shell shell;
        // Desktops find the installed entry packaging/io.github.corvane.Corvane.desktop, and with it the icon, by its name.
        const QApplication& app = *qApp;
        QCOMPARE(app.applicationName() + app.organizationName() + app.desktopFileName() + shell.window.windowTitle(),
                 QStringLiteral("CorvaneCorvaneio.github.corvane.CorvaneCorvane"));
        QVERIFY(!shell.window.windowIcon().isNull());
        QVERIFY(RunSettings::shared().snapshot().dryRun && !RunSettings::shared().snapshot().silentlyIgnoreSkipped);  // published on screen

        ContentView& view = shell.view;
        QVERIFY(view.dryRunBox()->isChecked() && !view.silentSkipBox()->isChecked());
        QCOMPARE(view.dryRunBox()->text() + ": " + view.dryRunBox()->toolTip(),
                 QStringLiteral("Dry Run: Simulates the update without actually modifying any XMP files."));
        QCOMPARE(view.silentSkipBox()->text() + ": " + view.silentSkipBox()->toolTip(),
                 QStringLiteral("Silently Ignore Skipped: Hide skipped files from the results list."));
        QCOMPARE(view.badge()->isVisible() ? view.badge()->text() : QString(), QStringLiteral("Dry Run - No Changes Made"));
        QCOMPARE(view.dropZone()->height(), 120);
        QCOMPARE(view.dropZone()->toolTip(),
                 QStringLiteral("Drop HEIC/HEIF/DNG files or folders. Or click, or press Enter or Space, to choose files "
                                "(File \u25B8 Open Files\u2026, Ctrl+O); Ctrl+Shift+O chooses a folder. Existing .xmp "
                                "sidecars will be updated."));
        QVERIFY(!view.progressBlock()->isVisible() && !view.resultsHeading()->isVisible() && !view.resultList()->isVisible());
        QVERIFY(view.copyAllButton()->isVisible() && !view.copyAllButton()->isEnabled());
        // The content sits at the top, each part at its natural size.
        const QRect zone = view.dropZone()->geometry(), copyAll = view.copyAllButton()->geometry();
        for (const auto& [above, below] : {std::pair{view.badge()->geometry(), view.dryRunBox()->geometry()},
                                           {view.silentSkipBox()->geometry(), zone}})
            QVERIFY(below.top() - above.bottom() <= 2 * ContentFit::roomySpacing);
        QVERIFY(copyAll.top() - zone.bottom() <= 2 * ContentFit::roomySpacing && copyAll.width() == view.copyAllButton()->sizeHint().width());

        // A desktop switching to a dark style: the colours worked out from the palette follow it.
        const QPalette light = QApplication::palette();
        const QColor lightStatus = view.statusLabel()->palette().color(QPalette::WindowText);
        QApplication::setPalette(darkPalette());
        QTRY_COMPARE(view.palette().color(QPalette::Window), darkPalette().color(QPalette::Window));
        QCOMPARE(view.statusLabel()->palette().color(QPalette::WindowText), theme::secondaryColor(view.palette()));
        QVERIFY(view.statusLabel()->palette().color(QPalette::WindowText) != lightStatus);
        QApplication::setPalette(light);

        const QList<QAction*> menus = shell.window.menuBar()->actions();
        QCOMPARE(titles(menus), (QStringList{"File", "Edit", "Run", "Help"}));
        QCOMPARE(titles(menus[0]->menu()->actions()),
                 (QStringList{"New Window Ctrl+N", "Open Files\u2026 Ctrl+O", "Open Folder\u2026 Ctrl+Shift+O", "Close Window Ctrl+W",
                              ("Quit " + QKeySequence(QKeySequence::Quit).toString()).trimmed()}));
        // Nothing has been written yet: there is no run to undo.
        QCOMPARE(titles(menus[1]->menu()->actions()), (QStringList{"Undo Last Run Ctrl+Z"}));
        QVERIFY(!shell.window.undoLastRunAction()->isEnabled());
        // The run's other two switches, off at every launch like Force Overwrite and Apple-only, and its
        // two choices.
        QCOMPARE(titles(menus[2]->menu()->actions()), (QStringList{"Always Overwrite", "Include All Devices", "Sidecar Name", "Coordinate Form"}));
        QVERIFY(!shell.window.alwaysOverwriteAction()->isChecked() && !shell.window.includeAllDevicesAction()->isChecked());
        shell.window.includeAllDevicesAction()->trigger();
        QVERIFY(!RunSettings::shared().snapshot().appleOnly && !shell.state.appleOnly());
        QCOMPARE(titles(menus[3]->menu()->actions()), (QStringList{"About Corvane", "Check for Updates\u2026 Ctrl+Alt+U"}));
    }

    // The Run menu's two choices are published and named by the report's header; the sidecar name
    // alone is kept in the user's settings, for the next window and the next launch.
    void theSidecarNameIsTheOneChoiceRemembered() {
        {
            Shell shell;
            const QList<QAction*> run = shell.window.menuBar()->actions()[2]->menu()->actions();
            const QList<QAction*> names = run[3]->menu()->actions(), forms = run[4]->menu()->actions();
            QCOMPARE(titles(names), (QStringList{"IMG_0001.xmp (Base Name)", "IMG_0001.HEIC.xmp (Full Name)", "Either, Base Name First"}));
            QCOMPARE(titles(forms), (QStringList{"Decimal (37.77490000N)", "XMP Standard (37,46.494000N)"}));
            QVERIFY(names[0]->isChecked() && forms[0]->isChecked());
            names[1]->trigger();
            forms[1]->trigger();
            QVERIFY(names[1]->isChecked() && !names[0]->isChecked() && forms[1]->isChecked());
            const RunSwitches published = RunSettings::shared().snapshot();
            QVERIFY(published.sidecarName == SidecarName::full && published.coordinateForm == CoordinateForm::xmp);
            QVERIFY(shell.state.reportText().section(QLatin1Char('\n'), 0, 0).endsWith(QStringLiteral("SidecarName=full CoordinateForm=xmp")));
        }
        QVERIFY(test::readText(settings_.path() / "config/Corvane/Corvane.conf").find("sidecarName=full") != std::string::npos);
        Shell next;
        QVERIFY(next.state.sidecarName() == SidecarName::full && next.state.coordinateForm() == CoordinateForm::decimal);
        next.window.menuBar()->actions()[2]->menu()->actions()[3]->menu()->actions()[0]->trigger();
        QVERIFY(next.state.sidecarName() == SidecarName::base);
    }

    // The badge and the shared switches follow the checkboxes; a new window starts afresh in Dry Run
    // and publishes that, while the first keeps its own switch. All windows share one update service:
    // asked three times from both, it shows one dialog, modal to the window that asked first only,
    // and its answer replaces it there. Ctrl+W closes a window.
    void eachWindowKeepsItsOwnSwitchesAndSharesTheUpdateDialog() {
        Shell shell;
        QTest::mouseClick(shell.view.dryRunBox(), Qt::LeftButton);
        QVERIFY(!shell.state.dryRun() && !shell.view.badge()->isVisible() && !RunSettings::shared().snapshot().dryRun);
        QTest::mouseClick(shell.view.silentSkipBox(), Qt::LeftButton);
        QVERIFY(RunSettings::shared().snapshot().silentlyIgnoreSkipped);

        UpdatesViewModel* updates = shell.app.updates();
        QTest::keyClick(&shell.window, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(shell.app.windows().size(), 2);
        MainWindow& second = *shell.app.windows().back();
        QVERIFY(updates && shell.app.updates() == updates && QTest::qWaitForWindowExposed(&second));
        QVERIFY(RunSettings::shared().snapshot().dryRun && !RunSettings::shared().snapshot().silentlyIgnoreSkipped);
        QVERIFY(second.state().dryRun() && second.content().badge()->isVisible());
        QVERIFY(!shell.view.dryRunBox()->isChecked() && !shell.view.badge()->isVisible());

        shell.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&shell.window));
        QTest::keyClick(&shell.window, Qt::Key_U, Qt::ControlModifier | Qt::AltModifier);
        second.checkForUpdatesAction()->trigger();
        second.checkForUpdatesAction()->trigger();
        QCOMPARE(openDialogs().size(), 1);
        QVERIFY(qobject_cast<QProgressDialog*>(openDialogs().front()));
        QCOMPARE(openDialogs().front()->parentWidget(), &shell.window);
        QTRY_VERIFY(shell.app.updateDialogs()->answer() != nullptr);
        second.checkForUpdatesAction()->trigger();
        QTRY_COMPARE(openDialogs(), QList<QDialog*>{shell.app.updateDialogs()->answer()});
        QCOMPARE(openDialogs().front()->parentWidget(), &shell.window);
        shell.app.updateDialogs()->answer()->close();
        QPointer<MainWindow> closing(&shell.window);
        closing->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(closing));
        QTest::keyClick(closing, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(closing.isNull());
        QCOMPARE(shell.app.windows().size(), 1);
    }

    // The program only reads what is dropped: a source told its files were moved may delete them. The
    // zone lights up while a drag it takes hovers; a refused one is told why in the status area.
    void dropsAreTakenAsCopiesOnly_data() {
        QTest::addColumn<Qt::DropActions>("offered");
        QTest::addColumn<Qt::DropAction>("proposed");
        QTest::addColumn<bool>("duringARun");
        QTest::addColumn<QString>("refusal");  // empty: taken
        const QString moved = QStringLiteral("Drops are copied, never moved: drop without Shift");
        QTest::newRow("copy") << Qt::DropActions(Qt::CopyAction) << Qt::CopyAction << false << QString();
        QTest::newRow("move proposed, copy offered") << (Qt::MoveAction | Qt::CopyAction) << Qt::MoveAction << false << QString();
        QTest::newRow("link proposed, copy offered") << (Qt::LinkAction | Qt::CopyAction) << Qt::LinkAction << false << QString();
        QTest::newRow("move only") << Qt::DropActions(Qt::MoveAction) << Qt::MoveAction << false << moved;
        QTest::newRow("link only") << Qt::DropActions(Qt::LinkAction) << Qt::LinkAction << false << moved;
        // Refused already while the drag hovers, so its source shows the refusal.
        QTest::newRow("copy during a run") << Qt::DropActions(Qt::CopyAction) << Qt::CopyAction << true << "A run is in progress";
    }

    void dropsAreTakenAsCopiesOnly() {
        QFETCH(Qt::DropActions, offered);
        QFETCH(Qt::DropAction, proposed);
        QFETCH(bool, duringARun);
        QFETCH(QString, refusal);
        const bool taken = refusal.isEmpty();
        test::PhotoFolder photos;
        const std::vector<fs::path> files = photos.addPhotos(2, test::canonicalSidecar);
        Shell shell;
        if (duringARun) QVERIFY(shell.state.startRun({files[1]}));
        const DropAnswer answer = dragOnto(*shell.view.dropZone(), *test::dragOf({files[0]}), offered, proposed);
        QVERIFY(answer.entered == taken && answer.dropped == taken && answer.highlighted == taken);
        if (taken) QVERIFY(answer.enterAction == Qt::CopyAction && answer.dropAction == Qt::CopyAction);
        QCOMPARE(shell.view.notice()->isVisible() ? shell.view.notice()->text() : QString(), refusal);
        QCOMPARE(shell.view.progressBlock()->isVisible(), taken || duringARun);
        WAIT_FOR_RUN_END(shell.state);
        const QString ran = QString::fromStdString((duringARun ? files[1] : files[0]).filename().string());
        QCOMPARE(shell.row(0), taken || duringARun ? ran : QString());
    }

    // From the keyboard alone: Ctrl+O (and the focused drop zone's Enter) ask for files, Ctrl+Shift+O
    // for a folder, and the answer runs like a drop, to the end. Then the switches at work on the list:
    // Dry Run leaves the rows' wording alone (each keeps the mode it ran in), Silently Ignore Skipped
    // hides the skipped ones, and the list with them when none is left.
    void openingFromTheKeyboardRunsToTheEndAndTheSwitchesShapeTheList() {
        test::PhotoFolder photos;
        const fs::path loose = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        fs::create_directories(photos.path() / "album");
        photos.addPhoto("album/IMG_0002.HEIC", test::canonicalSidecar);
        photos.addPhoto("album/IMG_0003.HEIC", test::canonicalSidecar);
        Shell shell;
        std::vector<std::pair<QWidget*, MainWindow::Choose>> asked;
        shell.window.setFileChooser([&](QWidget* parent, MainWindow::Choose what) {
            asked.emplace_back(parent, what);
            return what == MainWindow::Choose::files ? std::vector<fs::path>{loose, photos.path() / "album"}
                                                     : std::vector<fs::path>{photos.path() / "album"};
        });
        ContentView& view = shell.view;
        QTest::keyClick(&shell.window, Qt::Key_O, Qt::ControlModifier);
        QVERIFY(view.progressBlock()->isVisible());
        QVERIFY(!shell.window.openFilesAction()->isEnabled());  // nothing opens during a run, as nothing drops
        WAIT_FOR_RUN_END(shell.state);
        QVERIFY(shell.window.openFilesAction()->isEnabled());
        QCOMPARE(view.statusLabel()->text(), QStringLiteral("Processed 3/3"));
        QCOMPARE(view.progressBar()->value(), view.progressBar()->maximum());
        QVERIFY(view.resultList()->isVisible() && view.resultList()->height() >= 200 && view.copyAllButton()->isEnabled());
        QCOMPARE(view.resultsHeading()->isVisible() ? view.resultsHeading()->text() : QString(), QStringLiteral("Results"));
        // Rows in the order the results came: the chosen file first, then the folder's.
        QCOMPARE(view.resultModel().rowCount(), 3);
        QCOMPARE(shell.row(0), QStringLiteral("IMG_0001.HEIC"));
        const QString updated = shell.row(0, ResultListModel::ResultTextRole);
        QCOMPARE(view.resultModel().lineCount(0), updated.count(QLatin1Char('\n')) + 1);
        // The tooltip tells rows of the same name apart by the file's full path.
        QCOMPARE(shell.row(0, Qt::ToolTipRole),
                 QStringLiteral("IMG_0001.HEIC: ") + updated + QLatin1Char('\n') + QString::fromStdString(loose.string()));

        QTest::mouseClick(view.dryRunBox(), Qt::LeftButton);
        QCOMPARE(shell.row(0, ResultListModel::ResultTextRole), updated);
        QTest::mouseClick(view.silentSkipBox(), Qt::LeftButton);
        QCOMPARE(view.resultModel().rowCount(), 1);

        QTest::keyClick(&shell.window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        WAIT_FOR_RUN_END(shell.state);
        QCOMPARE(view.statusLabel()->text(), QStringLiteral("Processed 2/2"));  // the run's counts stay on show
        QVERIFY(!view.resultsHeading()->isVisible() && !view.resultList()->isVisible() && !view.copyAllButton()->isEnabled());
        view.dropZone()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(view.dropZone(), Qt::Key_Return);
        WAIT_FOR_RUN_END(shell.state);
        QCOMPARE(view.resultModel().rowCount(), 1);
        QTest::mouseClick(view.silentSkipBox(), Qt::LeftButton);
        QVERIFY(view.resultList()->isVisible());
        QCOMPARE(view.resultModel().rowCount(), 3);
        using enum MainWindow::Choose;
        QWidget* parent = &shell.window;  // each dialog over its window
        QCOMPARE(asked, (std::vector<std::pair<QWidget*, MainWindow::Choose>>{{parent, files}, {parent, folder}, {parent, files}}));
    }

    // Tab to the list, Down to the third row, then its two actions from the keyboard and the mouse.
    void aRowsRevealAndCopyAreReachedByKeyboardAndMouse() {
        test::PhotoFolder photos;
        Shell shell;
        QVERIFY(shell.state.startRun(photos.addPhotos(4, test::canonicalSidecar)));
        WAIT_FOR_RUN_END(shell.state);
        ResultListView& list = shell.list;
        QSignalSpy reveal(&list, &ResultListView::revealRequested);

        shell.view.dryRunBox()->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 5 && !list.hasFocus(); ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(list.hasFocus());
        QCOMPARE(list.currentIndex().row(), 0);  // the focus lands on a row, and the row shows it
        QTest::keyClick(&list, Qt::Key_Down);
        QTest::keyClick(&list, Qt::Key_Down);
        QCOMPARE(list.currentIndex().row(), 2);
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(reveal.count() == 1 ? reveal.front().front().toInt() : -1, 2);
        QTest::keyClick(&list, Qt::Key_Right);
        QTest::keyClick(&list, Qt::Key_Space);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("IMG_0003.HEIC: Already correct"));
        QCOMPARE(shell.view.notice()->text(), QStringLiteral("Copied 1 row"));
        QTest::keyClick(&list, Qt::Key_Up);
        QTest::keySequence(&list, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("IMG_0002.HEIC: Already correct"));
        // The row's menu holds both actions.
        QTimer::singleShot(0, [] {
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Down);
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
        });
        QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(reveal.count(), 2);

        list.scrollTo(list.model()->index(0, 0));
        const ResultRowDelegate::Layout parts = shell.layout(0);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, parts.copy.center());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("IMG_0001.HEIC: Already correct"));
        // Pressing on one button and letting go on another is no click.
        QTest::mousePress(list.viewport(), Qt::LeftButton, Qt::NoModifier, parts.reveal.center());
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, Qt::NoModifier, parts.copy.center());
        QCOMPARE(reveal.count(), 2);
        QTest::mouseClick(shell.view.copyAllButton(), Qt::LeftButton);
        QVERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("Results — ")));
        QCOMPARE(shell.view.notice()->text(), QStringLiteral("Copied the report"));
    }

    // A failed row's cause stays readable: long paths are shortened in their middle, the text wraps
    // onto whole lines, and no line is wider than the row's text column.
    void longResultTextsWrapWithThePathShortenedInTheMiddle() {
        const QString text = QStringLiteral("Failed: Cannot create a file beside \"/media/photos/") +
                             QStringLiteral("Exports_2024/").repeated(8) +
                             QStringLiteral(".IMG_0003.xmp.tmp\": Read-only file system");
        const QFont caption = theme::captionFont(QApplication::font());
        const QStringList lines = wrapResultText(text, caption, 260, ResultRowDelegate::maxTextLines);
        QVERIFY(lines.size() > 1 && lines.size() <= ResultRowDelegate::maxTextLines);
        for (const QString& line : lines) QVERIFY2(QFontMetrics(caption).horizontalAdvance(line) <= 260, qPrintable(line));
        // Line breaks fall at spaces and hyphens, so the words are compared without spaces.
        const QString shown = lines.join(QString()).remove(QLatin1Char(' '));
        for (const char* part : {"Read-onlyfilesystem", "/media/", ".IMG_0003.xmp.tmp", "\u2026"}) QVERIFY(shown.contains(part));
        QCOMPARE(wrapResultText(QStringLiteral("Already correct"), caption, 260, 12), QStringList{QStringLiteral("Already correct")});
        QCOMPARE(wrapResultText(QStringLiteral("a\nb\nc\nd"), caption, 260, 2), (QStringList{"a", "b\u2026"}));
        // Whole points: at some fractional sizes (7.6 pt, a 9 pt body's caption) the hinted "_" glyph vanishes.
        QFont body = QApplication::font();
        body.setPointSizeF(9);
        QCOMPARE(theme::captionFont(body).pointSizeF(), 8.0);
    }

    // On a small screen every part stays reachable: the window's smallest size fits the screen with
    // room for the window manager's frame, and at that size and at the size a window opens with, every
    // control lies inside the window, one below the other, with the list at least two rows high and
    // each row's name, text and buttons apart.
    void theWindowFitsSmallScreens_data() {
        QTest::addColumn<QSize>("screen");  // its free area, in device-independent pixels
        QTest::newRow("800 by 600") << QSize(800, 600);
        QTest::newRow("1280 by 800 at twice the scale") << QSize(640, 400);
        QTest::newRow("360 wide") << QSize(360, 640);
    }

    void theWindowFitsSmallScreens() {
        QFETCH(QSize, screen);
        test::PhotoFolder photos;
        std::vector<fs::path> files = photos.missingFiles(30);
        for (const auto& [name, sidecar] : {std::pair{"IMG_0001.HEIC", test::letterlessSidecar}, {"IMG_0002.HEIC", test::parisSidecar},
                                            {"IMG_0003.HEIC", test::shortLetteredSidecar}, {"IMG_0004.HEIC", test::canonicalSidecar}})
            files.push_back(photos.addPhoto(name, sidecar));
        files.push_back(photos.addPhoto("DSC_0005.HEIC", test::canonicalSidecar, false));
        Shell shell;
        QVERIFY(shell.state.startRun(files));
        WAIT_FOR_RUN_END(shell.state);
        MainWindow& window = shell.window;
        const QSize opened = defaultWindowSize(screen);
        window.resize(opened);
        QTRY_COMPARE(window.size(), opened);
        QTest::qWait(0);
        // The smallest height at that width (where the counts and the header may take more lines).
        const QSize smallest = window.minimumSizeHint();
        QVERIFY2(smallest.width() <= opened.width() && smallest.height() <= opened.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(smallest.width()).arg(smallest.height())));
        for (const QSize size : {opened, QSize(opened.width(), smallest.height())}) {
            window.resize(size);
            QTRY_COMPARE(window.size(), size);
            QTest::qWait(0);
            ContentView& view = shell.view;
            auto place = [&](const QWidget* part) { return QRect(part->mapTo(&window, QPoint()), part->size()); };
            QWidget* header[] = {view.badge(), view.dryRunBox(), view.silentSkipBox()};
            QWidget* column[] = {view.dropZone(), view.progressBar(), view.statusLabel(), view.resultsHeading(), &shell.list,
                                 view.copyAllButton()};
            int bottom = 0;
            for (const QWidget* part : header) bottom = std::max(bottom, place(part).bottom());
            for (const QWidget* part : column) {
                QVERIFY2(part->isVisible() && place(part).top() > bottom && window.rect().contains(place(part)),
                         part->metaObject()->className());
                bottom = place(part).bottom();
            }
            for (size_t caseIndex : {0, 1, 5, 6, 7, 8}) QVERIFY(window.rect().contains(place(view.countButton(caseIndex))));
            QVERIFY(shell.list.height() >= 2 * shell.list.rowDelegate().oneLineRowHeight(shell.list.font()));

            const QModelIndex row = view.resultModel().index(0);
            const ResultRowDelegate::Layout parts = shell.layout(0);
            QVERIFY(QFontMetrics(shell.list.font()).horizontalAdvance(QStringLiteral("IMG_1000.HEIC")) <= parts.name.width());
            QVERIFY(!parts.text.intersects(parts.reveal) && shell.list.visualRect(row).contains(parts.text));
            QVERIFY(parts.copy.right() < shell.list.viewport()->width());
            // Every line of the text gets a whole line's height, descenders included.
            const auto lines = shell.list.rowDelegate().textLines(shell.list.rowOption(row), row).size();
            QVERIFY(parts.text.height() >= lines * QFontMetrics(theme::captionFont(shell.list.font())).height());
        }
        // Where there is room, the window keeps its generous layout.
        window.resize(720, 900);
        QTRY_COMPARE(shell.view.dropZone()->height(), 120);
        QCOMPARE(shell.view.fit(), ContentFit{});
    }

    // While a run goes on, the list follows its newest row only from the bottom: scrolled up, it stays
    // where the reader is, and follows again from the bottom. Tab into the list marks a row in view,
    // and coming back brings the marked row into view.
    void theListLetsTheReaderReadWhileTheRunGoesOn() {
        test::PhotoFolder photos;
        test::TestEngine services;
        std::deque<std::function<void()>> batches;
        ContentState state(services.engine(), [&](std::function<void()> work) { batches.push_back(std::move(work)); });
        ContentView view(state);
        view.resize(600, 500);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        ResultListView& list = *view.resultList();
        QScrollBar& bar = *list.verticalScrollBar();
        auto deliver = [&](int rows) {
            for (int i = 0; i < rows / 2 && !batches.empty(); ++i) {
                auto batch = std::move(batches.front());
                batches.pop_front();
                batch();
            }
            QTRY_VERIFY(view.resultModel().rowCount() == int(state.progress().results.size()));
            QTest::qWait(0);
        };
        QVERIFY(state.startRun(photos.missingFiles(120)));
        deliver(40);
        QTRY_VERIFY(bar.maximum() > 0 && bar.value() == bar.maximum());
        bar.setValue(10);  // the reader scrolls up
        deliver(40);
        QCOMPARE(bar.value(), 10);
        bar.setValue(bar.maximum());  // and back down
        deliver(40);
        QTRY_VERIFY(bar.value() == bar.maximum() && !state.isProcessing());

        list.setFocus(Qt::TabFocusReason);
        const QModelIndex marked = list.currentIndex();
        QVERIFY(marked.row() > 60 && list.viewport()->rect().contains(list.visualRect(marked)));
        view.dryRunBox()->setFocus(Qt::BacktabFocusReason);
        bar.setValue(0);
        list.setFocus(Qt::TabFocusReason);
        QCOMPARE(list.currentIndex(), marked);
        QVERIFY(list.viewport()->rect().contains(list.visualRect(marked)));
    }

    // What a screen reader finds, through Qt's accessibility interfaces: the window's parts with their
    // roles and names (the heading, the named progress bar and the status line that labels it, the
    // counts, the notice), and the rows as list items with their two actions and a description that
    // names the action Enter takes.
    void screenReadersFindEveryPart() {
        listenLikeAScreenReader();  // where it can: then every interface is asked for as the window is built
        test::PhotoFolder photos;
        const std::vector<fs::path> files{photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar),
                                          photos.addPhoto("IMG_0002.HEIC", test::canonicalSidecar)};
        Shell shell;
        QVERIFY(shell.state.startRun(files));
        WAIT_FOR_RUN_END(shell.state);
        ContentView& view = shell.view;
        QList<std::pair<QAccessible::Role, QString>> tree;
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
            if (!node->state().invisible) tree.append({node->role(), node->text(QAccessible::Name)});
            for (int i = 0; i < node->childCount(); ++i) walk(node->child(i));
        };
        walk(QAccessible::queryAccessibleInterface(&shell.window));
        const QString summary = "Finished: 2 files: 1 would update, 1 already correct (Dry Run, nothing written)";
        for (const auto& part : QList<std::pair<QAccessible::Role, QString>>{
                 {QAccessible::Heading, "Results"}, {QAccessible::ProgressBar, "Progress"}, {QAccessible::List, "Results"},
                 {QAccessible::ListItem, "IMG_0002.HEIC, Already correct"}, {QAccessible::Button, "Drop files/folders"},
                 {QAccessible::CheckBox, "1 would update"}, {QAccessible::CheckBox, "1 already correct"},
                 {QAccessible::Notification, summary}})
            QVERIFY2(tree.contains(part), qPrintable(part.second));
        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(view.progressBar());
        QCOMPARE(bar->relations(QAccessible::Label).value(0).first, QAccessible::queryAccessibleInterface(view.statusLabel()));

        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&shell.list);
        QCOMPARE(list->childCount(), 2);
        QAccessibleInterface* row = list->child(1);
        QCOMPARE(row->actionInterface()->actionNames(), (QStringList{"Reveal in File Manager", "Copy"}));
        row->actionInterface()->doAction(QStringLiteral("Copy"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("IMG_0002.HEIC: Already correct"));
        QCOMPARE(QAccessible::queryAccessibleInterface(view.notice())->text(QAccessible::Name), QStringLiteral("Copied 1 row"));
        shell.list.setFocus(Qt::TabFocusReason);
        QCOMPARE(list->focusChild(), list->child(0));
        QVERIFY(list->child(0)->state().focused && list->child(0)->text(QAccessible::Description).startsWith(
            QString::fromStdString(files[0].string()) + ". Enter: Reveal in File Manager."));
        QTest::keyClick(&shell.list, Qt::Key_Right);
        QVERIFY(list->child(0)->text(QAccessible::Description).contains(". Enter: Copy."));
    }

    // The events a screen reader follows: the status's name and the bar's value as the run goes on, the
    // notice shown anew for the summary and again for a copy, and a row's description when Left or
    // Right changes what Enter does. Qt sends them only while an assistive technology listens: this
    // runs on an X server with an accessibility bus (ctest's ui_WindowTest_accessibility), and is
    // skipped elsewhere.
    void screenReadersHearTheRun() {
        if (!listenLikeAScreenReader()) QSKIP("needs an X server and an accessibility bus");
        static QList<std::tuple<QAccessible::Event, QObject*, int>> events;
        QAccessible::installUpdateHandler([](QAccessibleEvent* event) { events.append({event->type(), event->object(), event->child()}); });
        test::PhotoFolder photos;
        Shell shell;
        QVERIFY(shell.state.startRun(photos.addPhotos(2, test::canonicalSidecar)));
        WAIT_FOR_RUN_END(shell.state);
        shell.list.setFocus(Qt::TabFocusReason);
        QTest::keyClick(&shell.list, Qt::Key_Right);
        QTest::keySequence(&shell.list, QKeySequence::Copy);  // a second notice while the summary shows
        QAccessible::installUpdateHandler(nullptr);
        ContentView& view = shell.view;
        for (const auto& [type, object, child] : QList<std::tuple<QAccessible::Event, QObject*, int>>{
                 {QAccessible::NameChanged, view.statusLabel(), -1}, {QAccessible::ValueChanged, view.progressBar(), -1},
                 {QAccessible::Focus, &shell.list, 0}, {QAccessible::DescriptionChanged, &shell.list, 0}})
            QVERIFY2(events.contains({type, object, child}), object->metaObject()->className());
        QCOMPARE(events.count({QAccessible::ObjectShow, view.notice(), -1}), 2);
    }

    // --version and --help are answered without a display; the window's diagnostic lines only come
    // when asked for.
    void theCommandLineIsAnsweredWithoutADisplay() {
        test::TempDir home;
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        qunsetenv("QT_QPA_PLATFORM");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        const test::ProcessResult version = test::runProgram({CORVANE_GUI_PATH, "--version"}, home.path());
        const test::ProcessResult help = test::runProgram({CORVANE_GUI_PATH, "--help"}, home.path());
        qputenv("QT_QPA_PLATFORM", platform);
        QCOMPARE(QString::fromStdString(version.out), QStringLiteral("Corvane %1\n").arg(QCoreApplication::applicationVersion()));
        QVERIFY(version.exitCode == 0 && help.exitCode == 0);
        QVERIFY(help.out.find("--debug") != std::string::npos && help.out.find("[PATH...]") != std::string::npos);

        // The window over one missing photo, for a moment: its lines only with --debug or CORVANE_DEBUG=1.
        const std::string photo = (home.path() / "IMG_0001.HEIC").string();
        const std::vector<std::pair<std::vector<std::string>, const char*>> runs{
            {{CORVANE_GUI_PATH, photo}, "0"}, {{CORVANE_GUI_PATH, "--debug", photo}, nullptr}, {{CORVANE_GUI_PATH, photo}, "1"}};
        std::vector<std::pair<pid_t, int>> windows;
        for (const auto& [arguments, debug] : runs) {
            debug ? qputenv("CORVANE_DEBUG", debug) : qunsetenv("CORVANE_DEBUG");
            const int out = ::memfd_create("stdout", MFD_CLOEXEC);
            windows.emplace_back(test::spawnChild(arguments, home.path(), {}, out), out);
        }
        qunsetenv("CORVANE_DEBUG");
        QTest::qWait(4000);
        QStringList outputs;
        for (const auto& [pid, out] : windows) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            std::string text(65536, '\0');
            text.resize(std::max<ssize_t>(0, ::pread(out, text.data(), text.size(), 0)));
            ::close(out);
            outputs.append(QString::fromStdString(text));
        }
        QCOMPARE(outputs[0], QString());
        for (const QString& debug : outputs.mid(1))
            QVERIFY2(debug.startsWith("[Sparkle] auto=") && debug.contains("\n[DEBUG] "), qPrintable(debug));
    }

    void everyOutcomeHasItsOwnIconInItsColour_data() {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::style()->standardPalette();
        QTest::newRow("dark") << darkPalette();
    }

    // The icons keep their shape and hue per case, and reach the contrast of WCAG AA on the window and
    // the list: 3:1 for the icons and the focus marks, 4.5:1 for the badge, secondary text and buttons.
    void everyOutcomeHasItsOwnIconInItsColour() {
        QFETCH(QPalette, palette);
        const auto backgrounds = {theme::windowBackground(palette), theme::listBackground(palette)};
        QSet<QByteArray> shapes;
        for (size_t caseIndex = 0; caseIndex < std::variant_size_v<ProcessingResult>; ++caseIndex) {
            const QImage icon = outcomeIcon(caseIndex, 16, 2.0, palette);
            QCOMPARE(icon.size(), QSize(32, 32));
            shapes.insert(QByteArray(reinterpret_cast<const char*>(icon.constBits()), icon.sizeInBytes()));
            // The most opaque pixel carries the case's colour.
            QColor strongest(Qt::transparent);
            for (int y = 0; y < icon.height(); ++y)
                for (int x = 0; x < icon.width(); ++x)
                    if (icon.pixelColor(x, y).alpha() > strongest.alpha()) strongest = icon.pixelColor(x, y);
            const QColor drawn = outcomeColor(caseIndex, palette);
            QCOMPARE(strongest.name(QColor::HexArgb), drawn.name(QColor::HexArgb));
            const QColor system = outcomeColor(caseIndex);
            if (system.hslSaturation() > 0) QVERIFY(std::abs(drawn.hslHue() - system.hslHue()) <= 3);
            for (const QColor& background : backgrounds)
                QVERIFY2(theme::contrastRatio(drawn, background) >= 3.0, qPrintable(drawn.name() + " on " + background.name()));
        }
        QCOMPARE(shapes.size(), 9);
        QCOMPARE(outcomeColor(0).name(), outcomeColor(8).name());  // updated and alreadyCorrect: both green

        const QColor badge = theme::accentOn(theme::orange(), palette, theme::textContrast);
        QVERIFY(std::abs(badge.hslHue() - theme::orange().hslHue()) <= 3);
        for (const QColor& text : {badge, theme::secondaryColor(palette),
                                   theme::accentOn(palette.color(QPalette::Link), palette, theme::textContrast)})
            for (const QColor& background : backgrounds)
                QVERIFY2(theme::contrastRatio(text, background) >= 4.5, qPrintable(text.name() + " on " + background.name()));
        // The ratio itself, against the published WCAG figures.
        QCOMPARE(qRound(theme::contrastRatio(Qt::black, Qt::white) * 10), 210);
        QCOMPARE(qRound(theme::contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white) * 100), 454);
    }

    // The folder prompt: a modal chooser of one folder, with the message and "Allow"; the user may
    // pick another folder than the one proposed, or cancel.
    void theFolderPromptAsksForOneFolder() {
        test::PhotoFolder photos;
        const fs::path start = photos.path(), other = photos.path().parent_path();
        const FolderPromptRequest request{std::string(FolderAccess::promptMessage),
                                          std::string(FolderAccess::promptConfirmTitle), start};
        QWidget window;
        const auto dialog = QtFolderPrompt::makeDialog(request, &window);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly) && dialog->testOption(QFileDialog::ReadOnly));  // no new folders
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Allow"));
        QCOMPARE(fs::path(dialog->directory().absolutePath().toStdString()), start);
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        const auto* message = dialog->findChild<QLabel*>(QStringLiteral("folderPromptMessage"));
        QCOMPARE(message ? message->text() : QString(), QStringLiteral("This app needs access to the folder containing your XMP sidecar so it "
                                                 "can read and update it."));

        QtFolderPrompt prompt(nullptr);
        answerChooser([](QFileDialog& chooser) { static_cast<QDialog&>(chooser).accept(); });  // as Allow does
        QCOMPARE(prompt.chooseFolder(request), std::optional<fs::path>(start));
        answerChooser([other](QFileDialog& chooser) {
            chooser.setDirectory(QString::fromStdString(other.string()));
            static_cast<QDialog&>(chooser).accept();
        });
        QCOMPARE(prompt.chooseFolder(request), std::optional<fs::path>(other));
        answerChooser([](QFileDialog& chooser) { chooser.reject(); });
        QVERIFY(!prompt.chooseFolder(request));
    }

    // After a run that writes, Edit ▸ Undo Last Run (Ctrl+Z) asks over the window how many sidecars go
    // back; the undo's rows are listed as a run's, and it can be undone in turn.
    void undoLastRunAsksAndListsTheRestoredSidecars() {
        test::PhotoFolder photos;
        const auto images = photos.addPhotos(3, test::letterlessSidecar);
        const std::string before = test::readText(fs::path(images[0]).replace_extension("xmp"));
        Shell shell;
        shell.state.setDryRun(false);
        QVERIFY(shell.state.startRun(images));
        WAIT_FOR_RUN_END(shell.state);
        QVERIFY(shell.window.undoLastRunAction()->isEnabled());
        QString asked;
        QTimer::singleShot(0, [&asked] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            asked = box->text() + (qobject_cast<MainWindow*>(box->parentWidget()) ? "" : " (no parent)");
            for (QAbstractButton* choice : box->buttons()) choice->text() == "Undo Run" ? choice->click() : void();
        });
        QTest::keyClick(&shell.window, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY2(asked.startsWith("3 sidecars will be restored to the text they had before the run of "), qPrintable(asked));
        WAIT_FOR_RUN_END(shell.state);
        QCOMPARE(shell.state.progress().results.size(), size_t(3));
        QCOMPARE(shell.state.resultText(shell.state.progress().results[0]), QStringLiteral("Updated:\n• exif:GPSLatitude: 37.77490000N → 37.7749\n"
                                               "• exif:GPSLongitude: 122.41940000W → 122.4194"));
        for (const fs::path& image : images) QCOMPARE(test::readText(fs::path(image).replace_extension("xmp")), before);
        QVERIFY(shell.window.undoLastRunAction()->isEnabled());

        // A newer journal that cannot be read: no question, nothing undone (the runs before it neither),
        // and the notice says why.
        const fs::path unreadable = RunJournalStore::defaultFolder() / "20991231T235959.999Z.journal";
        test::writeText(unreadable, "CORVANE RUN JOURNAL 1\nthe rest is gone");
        asked.clear();
        QTimer::singleShot(0, [&asked] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) asked = box->text(), box->reject();
        });
        QSignalSpy notices(&shell.state, &ContentState::notice);
        shell.window.undoLastRunAction()->trigger();
        QCOMPARE(asked, QString());
        QCOMPARE(notices.size() ? notices.last().at(0).toString() : QString(), QStringLiteral("The journal of run 20991231T235959.999Z is damaged; nothing restored"));
        QVERIFY(!shell.state.isProcessing());
        for (const fs::path& image : images) QCOMPARE(test::readText(fs::path(image).replace_extension("xmp")), before);
        fs::remove(unreadable);
    }

    // Closing a window, or Quit, while its run writes asks first, over the window. Keeping it running
    // leaves the window and its run alone; stopping ends the run after the file in progress, and no
    // sidecar is written after that. A dry run closes without a question.
    void closingDuringARunThatWritesAsksFirst() {
        test::PhotoFolder photos;
        const auto images = photos.addPhotos(6, test::letterlessSidecar);
        const std::string before = test::readText(fs::path(images[0]).replace_extension("xmp"));
        const auto rewritten = [&] {
            return std::count_if(images.begin(), images.end(),
                                 [&](const fs::path& image) { return test::readText(fs::path(image).replace_extension("xmp")) != before; });
        };
        QStringList asked;
        const auto answer = [&asked](QString button) {
            QTimer::singleShot(0, [&asked, button] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    asked.append(box->text() + (qobject_cast<MainWindow*>(box->parentWidget()) ? "" : " (no parent)"));
                    for (QAbstractButton* choice : box->buttons()) choice->text() == button ? choice->click() : void();
                }
            });
        };
        Shell dry, shell;
        QVERIFY(dry.state.startRun(images));
        answer("Keep Running");
        QVERIFY(dry.window.close() && asked.isEmpty());
        QPointer<MainWindow> window = &shell.window;
        shell.state.setDryRun(false);
        QVERIFY(shell.state.startRun(images));
        answer("Keep Running");
        shell.window.quitAction()->trigger();  // File > Quit asks as closing does, and the window stays
        QVERIFY(window->isVisible() && shell.state.isWriting());
        answer("Stop and Close");
        QVERIFY(shell.window.close());
        const auto written = rewritten();
        QTRY_VERIFY(window.isNull());
        QVERIFY(written < 6 && rewritten() == written);
        QCOMPARE(asked.join('|').replace(QRegularExpression("\\d of"), "N of"), QStringLiteral("Corvane is writing sidecars: N of 6 files "
                                                                                                  "done.|Corvane is writing sidecars: N of 6 files done."));
    }

    // Last: it runs the application's event loop to its end. An open update dialog does not keep the
    // process alive once the last main window is closed.
    void theProcessEndsWithItsLastWindowEvenWithADialogOpen() {
        QApplication::setQuitOnLastWindowClosed(true);
        Shell shell;
        shell.window.checkForUpdatesAction()->trigger();
        QTRY_VERIFY(shell.app.updateDialogs()->answer() != nullptr);
        QWidget straggler;  // a top-level window that is none of the program's: Qt alone would wait for it
        straggler.show();
        QTimer::singleShot(0, &shell.window, [&shell] { shell.window.closeWindowAction()->trigger(); });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(3); });  // the process would have stayed
        QCOMPARE(QApplication::exec(), 0);
    }

private:
    test::TempDir settings_;
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
