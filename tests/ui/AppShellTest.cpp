// The application shell: windows, menus and their shortcuts, and the one update service per process.

#include "engine/Diagnostics.h"
#include "engine/RunSettings.h"
#include "platform/UpdatesViewModel.h"
#include "tests/support/TempDir.h"
#include "ui/ContentState.h"
#include "ui/ContentView.h"
#include "ui/CorvaneApp.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>

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
        QCOMPARE(titles(*file), (QStringList{QStringLiteral("New Window"), QStringLiteral("Quit")}));
        QCOMPARE(titles(*help), (QStringList{QStringLiteral("About Corvane"), QStringLiteral("Check for Updates\u2026")}));
        QCOMPARE(window.newWindowAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(window.checkForUpdatesAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
        QCOMPARE(window.checkForUpdatesAction()->shortcut().toString(), QStringLiteral("Ctrl+Alt+U"));
    }

    void checkForUpdatesAsksTheUpdateService() {
        CorvaneApp app;
        MainWindow& window = *app.openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(app.updates()->dialog() == nullptr);
        window.checkForUpdatesAction()->trigger();
        // A user-initiated check always answers with a dialog (here: no feed is set).
        QTRY_VERIFY(app.updates()->dialog() != nullptr);
        app.updates()->dialog()->close();
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
