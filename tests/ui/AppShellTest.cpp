// The application shell: windows, menus and their shortcuts, the one update service per process and
// its dialogs.

#include "WindowTestSupport.h"

#include "engine/Diagnostics.h"
#include "engine/RunSettings.h"
#include "platform/UpdatesViewModel.h"
#include "tests/support/TempDir.h"
#include "ui/ContentState.h"
#include "ui/ContentView.h"
#include "ui/CorvaneApp.h"
#include "ui/DropZone.h"
#include "ui/MainWindow.h"
#include "ui/ResultListModel.h"
#include "ui/UpdateDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

using namespace corvane;

namespace {

QMenu* menuTitled(MainWindow& window, const QString& title) {
    for (QAction* action : window.menuBar()->actions())
        if (action->menu() && action->text().remove(QLatin1Char('&')) == title) return action->menu();
    return nullptr;
}

QStringList titles(const QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions())
        if (!action->isSeparator()) texts.append(action->text());
    return texts;
}

// The dialogs open over any window of the process.
QList<QDialog*> openDialogs() {
    QList<QDialog*> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) dialogs.append(dialog);
    return dialogs;
}

MainWindow& activeWindow(CorvaneApp& app) {
    MainWindow& window = *app.openWindow();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) qWarning("the window did not become active");
    return window;
}

}  // namespace

class AppShellTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Diagnostics::setSink({});
        // The shell's settings (folder grants, updater preferences) go to a throw-away folder.
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((settings_.path() / "config").string()));
        CorvaneApp::configure(*QCoreApplication::instance());
    }

    void theApplicationIsNamedCorvane() {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Corvane"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Corvane"));
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("corvane"));  // packaging/corvane.desktop
    }

    void theFirstWindowStartsTheOneUpdateService() {
        CorvaneApp app;
        QVERIFY(app.updates() == nullptr);
        MainWindow* first = app.openWindow();
        QVERIFY(first->isVisible());
        UpdatesViewModel* updates = app.updates();
        QVERIFY(updates != nullptr);
        app.openWindow();
        QCOMPARE(app.windows().size(), 2);
        QCOMPARE(app.updates(), updates);
    }

    void theMenusHoldTheirCommandsWithTheirShortcuts() {
        CorvaneApp app;
        MainWindow& window = *app.openWindow();
        QCOMPARE(window.windowTitle(), QStringLiteral("Corvane"));
        QMenu* file = menuTitled(window, QStringLiteral("File"));
        QMenu* help = menuTitled(window, QStringLiteral("Help"));
        QVERIFY(file && help);
        QCOMPARE(titles(*file), (QStringList{QStringLiteral("New Window"), QStringLiteral("Open Files\u2026"),
                                             QStringLiteral("Open Folder\u2026"), QStringLiteral("Close Window"),
                                             QStringLiteral("Quit")}));
        QCOMPARE(titles(*help), (QStringList{QStringLiteral("About Corvane"), QStringLiteral("Check for Updates\u2026")}));
        QCOMPARE(window.newWindowAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(window.openFilesAction()->shortcut().toString(), QStringLiteral("Ctrl+O"));
        QCOMPARE(window.openFolderAction()->shortcut().toString(), QStringLiteral("Ctrl+Shift+O"));
        QCOMPARE(window.closeWindowAction()->shortcut().toString(), QStringLiteral("Ctrl+W"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.checkForUpdatesAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
        QCOMPARE(window.checkForUpdatesAction()->shortcut().toString(), QStringLiteral("Ctrl+Alt+U"));
    }

    void repeatedCheckForUpdatesShowsOneDialogOverItsWindow() {
        CorvaneApp app;
        MainWindow& other = *app.openWindow();
        MainWindow& window = activeWindow(app);
        QTest::keyClick(&window, Qt::Key_U, Qt::ControlModifier | Qt::AltModifier);
        // The dialog is modal to its own window only: the other window can still ask.
        other.checkForUpdatesAction()->trigger();
        other.checkForUpdatesAction()->trigger();
        // At once: the check shows that it runs, over the window that asked.
        QCOMPARE(openDialogs().size(), 1);
        QVERIFY(qobject_cast<QProgressDialog*>(openDialogs().front()));
        QCOMPARE(openDialogs().front()->parentWidget(), &window);
        // Then its answer (no feed is set) replaces it; asking again raises that one.
        QTRY_VERIFY(app.updateDialogs()->answer() != nullptr);
        other.checkForUpdatesAction()->trigger();
        QTRY_COMPARE(openDialogs().size(), 1);
        QCOMPARE(openDialogs().front(), app.updateDialogs()->answer());
        QCOMPARE(app.updateDialogs()->answer()->text(), QStringLiteral("No update feed is configured."));
        QCOMPARE(app.updateDialogs()->answer()->parentWidget(), &window);
        app.updateDialogs()->answer()->close();
    }

    // From the keyboard alone: Ctrl+O (and the focused drop zone's Enter) ask for files, Ctrl+Shift+O
    // for a folder, and the answer runs like a drop.
    void openingFromTheKeyboardRunsToTheEnd() {
        test::PhotoFolder photos;
        const auto first = photos.addPhoto("IMG_0001.HEIC", test::canonicalSidecar);
        const auto second = photos.addPhoto("IMG_0002.HEIC", test::letterlessSidecar);
        CorvaneApp app;
        MainWindow& window = activeWindow(app);
        std::vector<MainWindow::Choose> asked;
        window.setFileChooser([&](QWidget* parent, MainWindow::Choose what) {
            if (parent != &window) qWarning("the file dialog has no parent");
            asked.push_back(what);
            return what == MainWindow::Choose::files ? std::vector<std::filesystem::path>{first}
                                                     : std::vector<std::filesystem::path>{photos.path()};
        });
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(!window.state().isProcessing(), 60000);
        QCOMPARE(window.content().resultModel().rowCount(), 1);

        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(window.state().isProcessing());
        QVERIFY(!window.openFilesAction()->isEnabled());  // nothing opens during a run, as nothing drops
        QTRY_VERIFY_WITH_TIMEOUT(!window.state().isProcessing(), 60000);
        QCOMPARE(window.content().statusLabel()->text(), QStringLiteral("Processed 2/2"));
        QCOMPARE(window.content().resultModel().index(1).data().toString(), QStringLiteral("IMG_0002.HEIC"));

        DropZone& zone = *window.content().dropZone();
        zone.setFocus(Qt::TabFocusReason);
        QTest::keyClick(&zone, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!window.state().isProcessing(), 60000);
        QCOMPARE(asked, (std::vector{MainWindow::Choose::files, MainWindow::Choose::folder, MainWindow::Choose::files}));
        QCOMPARE(window.content().resultModel().rowCount(), 1);
        QVERIFY(zone.toolTip().startsWith(QStringLiteral("Drop HEIC/HEIF/DNG files or folders. Or click, or press Enter")));
    }

    void controlWClosesTheWindow() {
        CorvaneApp app;
        MainWindow& window = activeWindow(app);
        app.openWindow();
        QPointer<MainWindow> closing(&window);
        closing->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(closing));
        QTest::keyClick(closing, Qt::Key_W, Qt::ControlModifier);
        QTRY_VERIFY(closing.isNull());
        QCOMPARE(app.windows().size(), 1);
    }

    void aNewWindowHasFreshStateAndPublishesItsSwitches() {
        CorvaneApp app;
        MainWindow& first = *app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        QTest::mouseClick(first.content().dryRunBox(), Qt::LeftButton);
        QVERIFY(!RunSettings::shared().dryRun);

        first.newWindowAction()->trigger();
        QCOMPARE(app.windows().size(), 2);
        MainWindow& second = *app.windows().back();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        QVERIFY(RunSettings::shared().dryRun);
        QVERIFY(second.state().dryRun());
        QVERIFY(second.content().badge()->isVisible());
        // The first window keeps its own switch.
        QVERIFY(!first.state().dryRun());
        QVERIFY(!first.content().dryRunBox()->isChecked());
        QVERIFY(!first.content().badge()->isVisible());
    }

    void aClosedWindowGoesAway() {
        CorvaneApp app;
        MainWindow* first = app.openWindow();
        app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(first));
        first->close();
        QTRY_COMPARE(app.windows().size(), 1);
    }

    // Last: it runs the application's event loop to its end. An open update dialog does not keep the
    // process alive once the last main window is closed.
    void theProcessEndsWithItsLastWindowEvenWithADialogOpen() {
        QApplication::setQuitOnLastWindowClosed(true);
        CorvaneApp app;
        MainWindow& window = activeWindow(app);
        window.checkForUpdatesAction()->trigger();
        QTRY_VERIFY(app.updateDialogs()->answer() != nullptr);
        QTimer::singleShot(0, &window, [&window] { window.closeWindowAction()->trigger(); });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(3); });  // the process would have stayed
        QCOMPARE(QApplication::exec(), 0);
    }

private:
    test::TempDir settings_;
};

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    AppShellTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "AppShellTest.moc"
