// The window's content as the user meets it: what shows after launch, the badge and the switches, a
// file manager's drop on the drop zone, the list's rows and buttons, and the icons.

#include "WindowTestSupport.h"

#include "engine/Executor.h"
#include "engine/RunSettings.h"
#include "ui/ContentView.h"
#include "ui/DropZone.h"
#include "ui/OutcomeIcon.h"
#include "ui/ResultListModel.h"
#include "ui/ResultListView.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// Delivers a drop as the window system does: a drag entering the zone, then the drop. Returns whether
// the zone took the drop.
bool dropOn(DropZone& zone, const QMimeData& mime) {
    const QPointF centre = QRectF(zone.rect()).center();
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&zone, &enter);
    QDropEvent drop(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&zone, &drop);
    return drop.isAccepted();
}

// A window's content on screen, with its own state.
struct Window {
    test::TestEngine services;
    ContentState state{services.engine()};
    ContentView view{state};

    Window() {
        view.resize(640, 640);
        view.show();
    }
    bool idle() const { return !state.isProcessing(); }
};

}  // namespace

class ContentViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Diagnostics::setSink({}); }

    void afterLaunchTheWindowShowsDryRunAndNothingElse() {
        RunSettings::shared().dryRun = false;
        RunSettings::shared().silentlyIgnoreSkipped = true;
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));

        // Coming on screen published the window's switches.
        QVERIFY(RunSettings::shared().dryRun);
        QVERIFY(!RunSettings::shared().silentlyIgnoreSkipped);
        QVERIFY(!RunSettings::shared().alwaysOverwrite);
        QVERIFY(RunSettings::shared().appleOnly);

        QVERIFY(window.view.dryRunBox()->isChecked());
        QCOMPARE(window.view.dryRunBox()->text(), QStringLiteral("Dry Run"));
        QCOMPARE(window.view.dryRunBox()->toolTip(),
                 QStringLiteral("Simulates the update without actually modifying any XMP files."));
        QVERIFY(!window.view.silentSkipBox()->isChecked());
        QCOMPARE(window.view.silentSkipBox()->text(), QStringLiteral("Silently Ignore Skipped"));
        QCOMPARE(window.view.silentSkipBox()->toolTip(), QStringLiteral("Hide skipped files from the results list."));
        QVERIFY(window.view.badge()->isVisible());
        QCOMPARE(window.view.badge()->text(), QStringLiteral("Dry Run - No Changes Made"));
        QCOMPARE(window.view.dropZone()->height(), 120);
        QCOMPARE(window.view.dropZone()->toolTip(),
                 QStringLiteral("Drop HEIC/HEIF/DNG files or folders. Existing .xmp sidecars will be updated."));
        QVERIFY(!window.view.progressBlock()->isVisible());
        QVERIFY(!window.view.resultsHeading()->isVisible());
        QVERIFY(!window.view.resultList()->isVisible());
        QVERIFY(window.view.copyAllButton()->isVisible());
        QVERIFY(!window.view.copyAllButton()->isEnabled());
    }

    void theBadgeFollowsTheDryRunCheckbox() {
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));
        QTest::mouseClick(window.view.dryRunBox(), Qt::LeftButton);
        QVERIFY(!window.state.dryRun());
        QVERIFY(!window.view.badge()->isVisible());
        QVERIFY(!RunSettings::shared().dryRun);
        QTest::mouseClick(window.view.dryRunBox(), Qt::LeftButton);
        QVERIFY(window.view.badge()->isVisible());
        QVERIFY(RunSettings::shared().dryRun);
        QTest::mouseClick(window.view.silentSkipBox(), Qt::LeftButton);
        QVERIFY(RunSettings::shared().silentlyIgnoreSkipped);
    }

    void aDropOfFilesAndAFolderRunsToItsEnd() {
        test::PhotoFolder photos;
        const fs::path loose = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        fs::create_directories(photos.path() / "album");
        for (const char* name : {"album/IMG_0002.HEIC", "album/IMG_0003.HEIC"}) photos.addPhoto(name, test::canonicalSidecar);
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));

        QVERIFY(dropOn(*window.view.dropZone(), *test::dragOf({loose, photos.path() / "album"})));
        QVERIFY(window.view.progressBlock()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);

        QCOMPARE(window.view.statusLabel()->text(), QStringLiteral("Processed 3/3"));
        QCOMPARE(window.view.progressBar()->value(), window.view.progressBar()->maximum());
        QVERIFY(window.view.resultsHeading()->isVisible());
        QCOMPARE(window.view.resultsHeading()->text(), QStringLiteral("Results"));
        QVERIFY(window.view.resultList()->isVisible());
        QVERIFY(window.view.resultList()->height() >= 200);
        QVERIFY(window.view.copyAllButton()->isEnabled());

        // Rows in the order the results came: the dropped file first, then the folder's (in the order
        // of the folder walk).
        ResultListModel& model = window.view.resultModel();
        QCOMPARE(model.rowCount(), 3);
        const QSet<QString> fromFolder{model.index(1).data().toString(), model.index(2).data().toString()};
        QCOMPARE(fromFolder, (QSet<QString>{QStringLiteral("IMG_0002.HEIC"), QStringLiteral("IMG_0003.HEIC")}));
        QCOMPARE(model.index(0).data().toString(), QStringLiteral("IMG_0001.HEIC"));
        const QString updated = model.index(0).data(ResultListModel::ResultTextRole).toString();
        QVERIFY(updated.startsWith(QStringLiteral("[Dry Run] Would Update:\n")));
        QVERIFY(model.lineCount(0) >= 2);
        QCOMPARE(model.lineCount(0), updated.count(QLatin1Char('\n')) + 1);
        QCOMPARE(model.index(2).data(ResultListModel::ResultTextRole).toString(), QStringLiteral("Already correct"));
        QCOMPARE(model.index(2).data(Qt::ToolTipRole).toString(),
                 model.index(2).data().toString() + QStringLiteral(": Already correct"));
    }

    void aDropDuringARunIsRefused() {
        test::PhotoFolder photos;
        std::vector<fs::path> files;
        for (int i = 1; i <= 3; ++i) files.push_back(photos.addPhoto("IMG_000" + std::to_string(i) + ".HEIC", test::canonicalSidecar));
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));
        QVERIFY(dropOn(*window.view.dropZone(), *test::dragOf(files)));
        QVERIFY(!dropOn(*window.view.dropZone(), *test::dragOf({photos.path()})));
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QCOMPARE(window.view.statusLabel()->text(), QStringLiteral("Processed 3/3"));
        QCOMPARE(window.view.resultModel().rowCount(), 3);
    }

    void theSilentSwitchHidesAndShowsTheList() {
        test::PhotoFolder photos;
        const fs::path correct = photos.addPhoto("IMG_0001.HEIC", test::canonicalSidecar);
        const fs::path differs = photos.addPhoto("IMG_0002.HEIC", test::elsewhereSidecar);
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));
        window.state.startRun({correct});
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QVERIFY(window.view.resultList()->isVisible());

        QTest::mouseClick(window.view.silentSkipBox(), Qt::LeftButton);
        QVERIFY(!window.view.resultsHeading()->isVisible());
        QVERIFY(!window.view.resultList()->isVisible());
        QVERIFY(!window.view.copyAllButton()->isEnabled());
        QCOMPARE(window.view.resultModel().rowCount(), 0);
        // The run's counts stay on show.
        QCOMPARE(window.view.statusLabel()->text(), QStringLiteral("Processed 1/1"));

        window.state.startRun({correct, differs});
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QCOMPARE(window.view.resultModel().rowCount(), 1);
        QCOMPARE(window.view.resultModel().index(0).data().toString(), QStringLiteral("IMG_0002.HEIC"));
        QVERIFY(window.view.resultList()->isVisible());

        QTest::mouseClick(window.view.silentSkipBox(), Qt::LeftButton);
        QCOMPARE(window.view.resultModel().rowCount(), 2);
    }

    void turningDryRunOffRewordsTheListedRows() {
        test::PhotoFolder photos;
        const fs::path photo = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        Window window;
        window.state.startRun({photo});
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QSignalSpy changed(&window.view.resultModel(), &QAbstractItemModel::dataChanged);
        window.state.setDryRun(false);
        QCOMPARE(changed.count(), 1);
        QVERIFY(window.view.resultModel().index(0).data(ResultListModel::ResultTextRole).toString().startsWith(
            QStringLiteral("Updated:\n")));
    }

    void aRowsCopyButtonAndCopyAllFillTheClipboard() {
        test::PhotoFolder photos;
        const fs::path correct = photos.addPhoto("IMG_0001.HEIC", test::canonicalSidecar);
        const fs::path differs = photos.addPhoto("IMG_0002.HEIC", test::elsewhereSidecar);
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));
        window.state.startRun({correct, differs});
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QTRY_VERIFY(window.view.resultList()->isVisible());

        ResultListView& list = *window.view.resultList();
        const QModelIndex first = window.view.resultModel().index(0);
        list.scrollTo(first);
        const ResultRowDelegate::Layout parts = list.rowDelegate().layout(list.rowOption(first), first);
        QVERIFY(list.viewport()->rect().contains(parts.copy));
        QSignalSpy reveal(&list, &ResultListView::revealRequested);

        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, parts.copy.center());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("IMG_0001.HEIC: Already correct"));
        QCOMPARE(reveal.count(), 0);

        // Pressing on one button and letting go on another is no click.
        QTest::mousePress(list.viewport(), Qt::LeftButton, Qt::NoModifier, parts.reveal.center());
        QTest::mouseRelease(list.viewport(), Qt::LeftButton, Qt::NoModifier, parts.copy.center());
        QCOMPARE(reveal.count(), 0);

        // The copy shortcut copies the row with the keyboard focus.
        list.setFocus();
        list.setCurrentIndex(window.view.resultModel().index(1));
        QTest::keySequence(&list, QKeySequence::Copy);
        QVERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("IMG_0002.HEIC: Skipped (GPS differs):\n")));

        QTest::mouseClick(window.view.copyAllButton(), Qt::LeftButton);
        const QString report = QGuiApplication::clipboard()->text();
        QVERIFY(report.startsWith(QStringLiteral("Results — ")));
        QVERIFY(report.contains(QStringLiteral("\nIMG_0001.HEIC: Already correct\nIMG_0002.HEIC: Skipped (GPS differs):\n• ")));
    }

    void theListScrollsToTheNewestRow() {
        test::PhotoFolder photos;
        // Locations without a file still get a row each, quickly.
        std::vector<fs::path> missing;
        for (int i = 0; i < 60; ++i) missing.push_back(photos.path() / ("IMG_" + std::to_string(1000 + i) + ".HEIC"));
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));
        window.state.startRun(missing);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        ResultListView& list = *window.view.resultList();
        const QModelIndex last = window.view.resultModel().index(59);
        QTRY_VERIFY(list.viewport()->rect().contains(list.visualRect(last)));
        QVERIFY(list.verticalScrollBar()->value() > 0);
    }

    // A list view lays itself out anew on each insertion, so rows that arrive back to back go in
    // together; none is lost, and their order stays.
    void rowsArrivingBackToBackAreInsertedTogether() {
        test::PhotoFolder photos;
        std::vector<fs::path> missing;
        for (int i = 0; i < 300; ++i) missing.push_back(photos.path() / ("IMG_" + std::to_string(1000 + i) + ".HEIC"));
        test::TestEngine services;
        InlineExecutor inPlace;  // the whole run happens inside startRun, without the event loop
        ContentState state(services.engine(), inPlace.executor());
        ResultListModel model(state);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QVERIFY(state.startRun(missing));
        QVERIFY(!state.isProcessing());
        QCOMPARE(model.rowCount(), 300);
        QCOMPARE(inserted.count(), 2);  // the first row at once, the rest when the run ended
        for (int row : {0, 150, 299})
            QCOMPARE(model.index(row).data().toString(), QString::fromStdString(missing[size_t(row)].filename().string()));
    }

    void everyOutcomeHasItsOwnIconInItsColour() {
        QSet<QByteArray> shapes;
        for (size_t caseIndex = 0; caseIndex < std::variant_size_v<ProcessingResult>; ++caseIndex) {
            const QImage icon = outcomeIcon(caseIndex, 16, 2.0);
            QCOMPARE(icon.size(), QSize(32, 32));
            shapes.insert(QByteArray(reinterpret_cast<const char*>(icon.constBits()), icon.sizeInBytes()));
            // The most opaque pixel carries the case's colour.
            QColor strongest(Qt::transparent);
            for (int y = 0; y < icon.height(); ++y)
                for (int x = 0; x < icon.width(); ++x) {
                    const QColor pixel = icon.pixelColor(x, y);
                    if (pixel.alpha() > strongest.alpha()) strongest = pixel;
                }
            QCOMPARE(strongest.alpha(), 255);
            strongest.setAlpha(255);
            QCOMPARE(strongest.name(), outcomeColor(caseIndex).name());
        }
        QCOMPARE(shapes.size(), 9);
        QCOMPARE(outcomeColor(0).name(), outcomeColor(8).name());  // updated and alreadyCorrect: both green
    }
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"
