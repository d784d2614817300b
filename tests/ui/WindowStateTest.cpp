// SPDX-License-Identifier: GPL-3.0-or-later
// The window's state without a screen: its switches and their publishing, drops and runs over real
// photos, the filters, the counts, the texts, the notices and the clipboard; and how the content fits
// the room it has.

#include "WindowTestSupport.h"

#include "engine/RunSettings.h"
#include "ui/ContentFit.h"
#include "ui/ResultListModel.h"

#include <QtGui>

#include <deque>
#include <variant>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

template <typename Case>
int countOf(const ContentState& state) {
    int count = 0;
    for (const auto& row : state.progress().results) count += std::holds_alternative<Case>(row.result) ? 1 : 0;
    return count;
}

QString clipboard() { return QGuiApplication::clipboard()->text(); }

}  // namespace

class WindowStateTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Diagnostics::setSink({}); }

    void startsInDryRunAndPublishesEverySwitchChange() {
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.dryRun() && state.appleOnly() && state.badgeVisible() && !state.silentlyIgnoreSkipped());
        QVERIFY(!state.alwaysOverwrite() && !state.progressVisible() && !state.hasVisibleResults());

        // Whatever the process-wide switches held before, publishing writes them all.
        RunSettings& shared = RunSettings::shared();
        shared.publish({false, true, false, true});
        state.publishSettings();
        QVERIFY(shared.snapshot() == RunSwitches{});

        QSignalSpy changed(&state, &ContentState::switchesChanged);
        state.setDryRun(false);
        QVERIFY(!shared.snapshot().dryRun && !state.badgeVisible());
        state.setSilentlyIgnoreSkipped(true);
        state.setDryRun(false);  // the value it has: no change
        QVERIFY(shared.snapshot().silentlyIgnoreSkipped);
        // The Run menu's two switches, as the report's header names them.
        state.setAlwaysOverwrite(true);
        state.setAppleOnly(false);
        QVERIFY(shared.snapshot() == state.switches() && shared.snapshot().alwaysOverwrite && !shared.snapshot().appleOnly);
        QVERIFY(state.reportText().section(QLatin1Char('\n'), 0, 0).endsWith(
            QStringLiteral("DryRun=false ForceOverwrite=true AppleOnly=false SilentSkip=true")));
        QCOMPARE(changed.count(), 4);
    }

    // URLs as a drag carries them, separated by blanks; the paths' bytes percent-encoded, separated by "|".
    void dropCollectsLocalFileURLsInOrder_data() {
        QTest::addColumn<QString>("urls");
        QTest::addColumn<QString>("expected");
        QTest::newRow("several files, order kept") << "file:///p/c.heic file:///p/a.heic file:///p/b" << "/p/c.heic|/p/a.heic|/p/b";
        QTest::newRow("web and other hosts' URLs are left out")
            << "https://example.com/a.heic file:///p/a.heic file://server/share/b.heic" << "/p/a.heic";
        QTest::newRow("localhost is this machine") << "file://localhost/p/a.heic" << "/p/a.heic";
        QTest::newRow("spaces and UTF-8 names") << "file:///p/Ferien%202024/%C3%84.heic" << "/p/Ferien%202024/%C3%84.heic";
        QTest::newRow("a name that is not UTF-8 keeps its bytes") << "file:///p/%FF%FE.heic" << "/p/%FF%FE.heic";
        QTest::newRow("nothing usable") << "mailto:a@b.c" << "";
    }

    void dropCollectsLocalFileURLsInOrder() {
        QFETCH(QString, urls);
        QFETCH(QString, expected);
        QMimeData mime;
        QList<QUrl> list;
        for (const QString& url : urls.split(' ')) list.append(QUrl::fromEncoded(url.toLatin1()));
        mime.setUrls(list);
        QByteArrayList got;
        for (const auto& path : droppedFileURLs(mime)) got.append(QByteArray::fromStdString(path.string()));
        QCOMPARE(QString::fromLatin1(got.join('|').toPercentEncoding("/|")), expected);
        QCOMPARE(carriesFileURLs(mime), !expected.isEmpty());
    }

    // The status line names the file of the newest row while the run goes on; other drops and opened
    // files are refused meanwhile. Afterwards a drop without media is accepted, yet starts nothing: the
    // rows, the counts and the progress block are gone.
    void aDropOfAFolderRunsToItsEndAndADropWithoutMediaClearsIt() {
        test::PhotoFolder photos;
        const fs::path updated = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        photos.addPhoto("IMG_0002.HEIC", test::canonicalSidecar);
        photos.addPhoto("IMG_0003.heic", test::parisSidecar);
        const auto textFile = test::dragOf({photos.addFile("notes.txt")});
        const std::string before = test::readText(fs::path(updated).replace_extension("xmp"));
        test::TestEngine services;
        ContentState state(services.engine());
        QStringList seen;
        connect(&state, &ContentState::rowAdded, this, [&] { seen.append(state.statusText()); });
        QVERIFY(state.handleDrop(*test::dragOf({photos.path()})));
        QVERIFY(state.isProcessing() && state.progressVisible() && state.progress().totalCount == 3);
        QVERIFY(!state.handleDrop(*textFile) && !state.handleChosen({updated}) && !state.startRun({updated}));
        WAIT_FOR_RUN_END(state);
        QCOMPARE(seen.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QString name = QString::fromStdString(state.progress().results[size_t(i)].fileURL.filename().string());
            QCOMPARE(seen[i], QStringLiteral("Processed %1/3 • %2").arg(i + 1).arg(name));
        }
        QCOMPARE(state.statusText(), QStringLiteral("Processed 3/3"));
        QCOMPARE((QList<int64_t>{countOf<outcome::Updated>(state), countOf<outcome::AlreadyCorrect>(state),
                                 countOf<outcome::SkippedDifferentGPS>(state), state.visibleCount()}),
                 (QList<int64_t>{1, 1, 1, 3}));
        QCOMPARE(test::readText(fs::path(updated).replace_extension("xmp")), before);  // Dry Run writes nothing

        QMimeData webLink;
        webLink.setUrls({QUrl("https://example.com/IMG_0001.HEIC")});
        for (const QMimeData* drop : std::initializer_list<const QMimeData*>{textFile.get(), &webLink}) {
            QVERIFY(state.startRun({updated}));
            WAIT_FOR_RUN_END(state);
            QVERIFY(state.hasVisibleResults() && state.handleDrop(*drop));
            QVERIFY(!state.isProcessing() && !state.progressVisible() && !state.hasVisibleResults());
            QVERIFY(state.progress().results.empty() && state.progress().totalCount == 0);
        }
    }

    // After a run: a count per outcome (every row, whatever the list shows), the summary the end of the
    // run announces, and the outcome filter beneath Silently Ignore Skipped, which lets go of an
    // outcome it hides. Copies and refused drags say so in the status area.
    void theRunSumsItselfUpAndACountFiltersTheList() {
        test::PhotoFolder photos;
        std::vector<fs::path> files{photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar),
                                    photos.addPhoto("IMG_0002.HEIC", test::parisSidecar),
                                    photos.addPhoto("DSC_0003.HEIC", test::canonicalSidecar, false),
                                    photos.addPhoto("IMG_0004.HEIC", test::canonicalSidecar),
                                    photos.addPhoto("IMG_0005.HEIC", test::canonicalSidecar)};
        test::TestEngine services;
        ContentState state(services.engine());
        ResultListModel list(state);
        QSignalSpy notices(&state, &ContentState::notice);
        bool countsDuringTheRun = false;
        connect(&state, &ContentState::rowAdded, this, [&] { countsDuringTheRun |= state.countsVisible(); });
        QVERIFY(state.startRun(files));
        QCOMPARE(state.dropRefusal(true), QStringLiteral("A run is in progress"));
        WAIT_FOR_RUN_END(state);
        QVERIFY(!countsDuringTheRun && state.countsVisible());
        QCOMPARE(state.outcomeCountText(0) + ", " + state.outcomeCountText(8), QStringLiteral("1 would update, 2 already correct"));
        const QString summary = QStringLiteral("Finished: 5 files: 1 would update, 1 skipped (non-Apple), "
                                               "1 skipped (GPS differs), 2 already correct");
        QCOMPARE(notices.count() == 1 ? notices.front().front().toString() : QString(), summary + " (Dry Run, nothing written)");

        QSignalSpy filtered(&state, &ContentState::filterChanged);
        state.toggleOutcomeFilter(8);
        QCOMPARE(list.rowCount(), 2);
        state.toggleOutcomeFilter(6);
        QCOMPARE(list.index(0).data().toString(), QStringLiteral("IMG_0002.HEIC"));
        QCOMPARE(list.rowCount(), 1);
        state.toggleOutcomeFilter(5);
        state.setSilentlyIgnoreSkipped(true);  // hides the chosen outcome: all visible rows again
        QVERIFY(!state.outcomeFilter() && !state.canFilterBy(5) && state.canFilterBy(6));
        QCOMPARE(list.rowCount(), 2);
        state.toggleOutcomeFilter(8);  // hidden: cannot be chosen
        state.toggleOutcomeFilter(0);
        QCOMPARE(list.rowCount(), 1);
        state.toggleOutcomeFilter(0);  // chosen again: all
        QCOMPARE(list.rowCount(), 2);
        QCOMPARE(filtered.count(), 6);
        state.setDryRun(false);  // the rows ran as a dry run: so they are counted
        QCOMPARE(state.outcomeCountText(0), QStringLiteral("1 would update"));

        state.copyResult(state.progress().results.front());
        state.copyAllResults();
        state.refuseDrop(state.dropRefusal(false));
        QCOMPARE(state.dropRefusal(true), QString());
        QStringList told;
        for (const auto& arguments : notices.mid(1)) told.append(arguments.front().toString());
        QCOMPARE(told, (QStringList{"Copied 1 row", "Copied the report", "Drops are copied, never moved: drop without Shift"}));
        state.toggleOutcomeFilter(6);
        QVERIFY(state.startRun({files[0]}) && !state.outcomeFilter() && state.outcomeCount(6) == 0);  // a new run starts afresh
    }

    // A row names its folder: from the dropped folder on (its own name first) for files found in one,
    // the whole folder, home written "~", for files dropped themselves.
    void aRowNamesItsFolder_data() {
        QTest::addColumn<QString>("dropped");  // below the photo folder, which is HOME
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::newRow("in the dropped folder") << "album" << "album/IMG_0001.HEIC" << "album";
        QTest::newRow("below it") << "album/" << "album/2024/Trip/IMG_0001.HEIC" << "album/2024/Trip";
        QTest::newRow("the innermost of two dropped") << "album album/2024" << "album/2024/IMG_0001.HEIC" << "2024";
        QTest::newRow("a dropped file") << "Pictures/IMG_0001.HEIC" << "Pictures/IMG_0001.HEIC" << "~/Pictures";
        QTest::newRow("a dropped file at home") << "IMG_0001.HEIC" << "IMG_0001.HEIC" << "~";
    }

    void aRowNamesItsFolder() {
        QFETCH(QString, dropped);
        QFETCH(QString, file);
        QFETCH(QString, folder);
        test::PhotoFolder photos;
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QByteArray::fromStdString(photos.path().string()));
        const fs::path photo = photos.path() / file.toStdString();
        fs::create_directories(photo.parent_path());
        test::writeText(photo, "not a photo");
        std::vector<fs::path> items;
        for (const QString& item : dropped.split(' ')) items.push_back(photos.path() / item.toStdString());
        test::TestEngine services;
        InlineExecutor inPlace;
        ContentState state(services.engine(), inPlace.executor());
        QVERIFY(state.startRun(items));
        const QString shown = state.folderText(state.progress().results.back());
        qputenv("HOME", home);
        QCOMPARE(shown, folder);
    }

    // Where the room is short, the drop zone gives way first, then the header takes one row (where the
    // width allows), then the insets tighten; only then the list goes below its comfortable height.
    void theContentGivesWayAboveTheListFirst_data() {
        QTest::addColumn<QSize>("room");
        QTest::addColumn<bool>("list");
        QTest::addColumn<QList<int>>("fit");  // inset, spacing, header in one row, drop zone height
        QTest::newRow("roomy") << QSize(700, 640) << true << QList<int>{16, 12, 0, 120};
        QTest::newRow("the drop zone shrinks") << QSize(700, 560) << true << QList<int>{16, 12, 0, 104};
        QTest::newRow("then the header takes one row") << QSize(700, 480) << true << QList<int>{16, 12, 1, 56};
        QTest::newRow("two rows where narrow: then tight") << QSize(360, 480) << true << QList<int>{8, 6, 0, 76};
        QTest::newRow("then the list gives way") << QSize(700, 300) << true << QList<int>{8, 6, 1, 40};
        QTest::newRow("no list: the drop zone takes what there is") << QSize(700, 300) << false << QList<int>{16, 12, 0, 56};
    }

    void theContentGivesWayAboveTheListFirst() {
        QFETCH(QSize, room);
        QFETCH(bool, list);
        QFETCH(QList<int>, fit);
        const ContentParts parts{24, 20, 500, 40, 60, 18, list ? 110 : 0, 30};
        const ContentFit got = fitContent(parts, room);
        QCOMPARE((QList<int>{got.inset, got.spacing, got.headerInOneRow, got.dropZoneHeight}), fit);
        // The minimum holds every part at its smallest; the list keeps its comfortable height while
        // anything above it can still give way.
        QCOMPARE(minimumContentHeight(parts, 360), contentHeight(parts, {8, 6, false, 40}, parts.listMinimum));
        if (list && got.dropZoneHeight > parts.dropZoneMinimum)
            QVERIFY(contentHeight(parts, got, ContentFit::comfortableList) <= room.height());
    }

    void aNewWindowFitsTheScreen() {
        QCOMPARE(defaultWindowSize(QSize(1920, 1050)), QSize(720, 640));
        QCOMPARE(defaultWindowSize(QSize(800, 600)), QSize(720, 552));
        QCOMPARE(defaultWindowSize(QSize(640, 400)), QSize(624, 352));  // 1280 by 800 at twice the scale
    }

    // The report's header follows the switches as they are now; an updated row keeps the wording of the
    // mode it ran in. The filter hides the rows Silently Ignore Skipped names at once, never a differing
    // position, though its text begins "Skipped"; with every row hidden, Copy All copies nothing.
    void theFilterAndTheClipboardFollowTheSwitches() {
        test::PhotoFolder photos;
        const fs::path updated = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        const fs::path differs = photos.addPhoto("IMG_0002.HEIC", test::parisSidecar);
        const fs::path correct = photos.addPhoto("IMG_0003.HEIC", test::canonicalSidecar);
        const fs::path camera = photos.addPhoto("DSC_0004.HEIC", test::canonicalSidecar, false);
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.startRun({updated, differs, correct}));
        WAIT_FOR_RUN_END(state);
        const auto& rows = state.progress().results;
        QVERIFY(state.resultText(rows[0]).startsWith(QStringLiteral("[Dry Run] Would Update:\n• [DRY RUN] would update: ")));
        state.copyResult(rows[1]);
        QVERIFY2(clipboard().startsWith(QStringLiteral("IMG_0002.HEIC: Skipped (GPS differs):\n• ")), qPrintable(clipboard()));
        state.copyAllResults();
        const QStringList lines = clipboard().split(QLatin1Char('\n'));
        QVERIFY2(lines.front().startsWith(QStringLiteral("Results — ")), qPrintable(lines.front()));
        QVERIFY2(lines.front().endsWith(
                     QStringLiteral(" — Settings: DryRun=true ForceOverwrite=false AppleOnly=true SilentSkip=false")),
                 qPrintable(lines.front()));
        QCOMPARE(lines.back(), QStringLiteral("IMG_0003.HEIC: Already correct"));

        state.setDryRun(false);
        state.setSilentlyIgnoreSkipped(true);
        QCOMPARE(state.visibleCount(), int64_t(2));
        QCOMPARE(state.visibleResults().back()->fileURL, differs);  // shown, though its text begins "Skipped"
        state.copyAllResults();
        QVERIFY(clipboard().section(QLatin1Char('\n'), 0, 0).endsWith(
            QStringLiteral("Settings: DryRun=false ForceOverwrite=false AppleOnly=true SilentSkip=true")));
        QVERIFY(!clipboard().contains(QStringLiteral("IMG_0003.HEIC")));

        QVERIFY(state.startRun({correct, camera}));
        WAIT_FOR_RUN_END(state);
        QCOMPARE(countOf<outcome::SkippedNonApple>(state), 1);
        QVERIFY(!state.hasVisibleResults() && state.visibleResults().empty());
        state.copyAllResults();
        QVERIFY(clipboard().contains(QStringLiteral("IMG_0002.HEIC")));  // still the last report
        state.setSilentlyIgnoreSkipped(false);
        QCOMPARE(state.visibleCount(), int64_t(2));
    }

    // Windows share the published switches, but a run only ever follows its own window's: a window
    // that shows "Dry Run - No Changes Made" never writes because another window turned Dry Run off.
    // Its own Dry Run stays live during a run: turned off after the first batch, it writes from the next
    // file on, and each row keeps the wording of the mode its file ran in.
    void aRunFollowsItsOwnWindowsSwitchesAndEachRowKeepsItsMode() {
        test::PhotoFolder photos;
        const auto images = photos.addPhotos(4, test::letterlessSidecar);
        const std::string before = test::readText(fs::path(images[0]).replace_extension("xmp"));
        test::TestEngine services;
        std::deque<std::function<void()>> batches;
        ContentState dryWindow(services.engine()), writingWindow(services.engine(), [&](std::function<void()> work) {
            batches.push_back(std::move(work));
        });
        dryWindow.publishSettings();
        writingWindow.setDryRun(false);
        QVERIFY(!RunSettings::shared().snapshot().dryRun && dryWindow.startRun(images));
        WAIT_FOR_RUN_END(dryWindow);
        QCOMPARE(test::readText(fs::path(images[3]).replace_extension("xmp")), before);

        writingWindow.setDryRun(true);
        QVERIFY(writingWindow.startRun(images));
        batches.front()(), writingWindow.setDryRun(false), batches.back()();
        QStringList rows;
        for (size_t i = 0; i < 4; ++i)
            rows.append(writingWindow.resultText(writingWindow.progress().results[i]).section(QLatin1Char(':'), 0, 0) +
                        (test::readText(fs::path(images[i]).replace_extension("xmp")) == before ? "" : " (written)"));
        QCOMPARE(rows, (QStringList{"[Dry Run] Would Update", "[Dry Run] Would Update", "Updated (written)", "Updated (written)"}));
    }

    // A run that writes keeps an undo journal. Where none can be written, a window about to write
    // starts no run and says why; one that turns to writing during a run fails its first write, which is
    // left undone, and the run ends there.
    void aJournalThatCannotBeWrittenKeepsTheWindowFromWriting() {
        test::PhotoFolder photos;
        const auto images = photos.addPhotos(2, test::letterlessSidecar);
        const std::string before = test::readText(fs::path(images[0]).replace_extension("xmp"));
        test::TestEngine services;
        RunJournalStore journals(photos.addFile("not-a-folder") / "runs");
        WindowEngine engine = services.engine();
        engine.journals = &journals;
        std::deque<std::function<void()>> batches;
        ContentState state(engine, [&](std::function<void()> work) { batches.push_back(std::move(work)); });
        QSignalSpy notices(&state, &ContentState::notice);
        state.setDryRun(false);
        QVERIFY(!state.startRun(images) && batches.empty());
        QVERIFY(notices.last()[0].toString().startsWith("Nothing written: the undo journal cannot be written (Cannot make the folder"));

        state.setDryRun(true);
        QVERIFY(state.startRun(images));
        state.setDryRun(false);
        while (!batches.empty()) std::exchange(batches, {}).front()();
        QCOMPARE(state.progress().processedCount, int64_t(1));
        QVERIFY(state.resultText(state.progress().results[0]).startsWith("Failed: The undo journal cannot be written (Cannot make the folder"));
        for (const fs::path& image : images) QCOMPARE(test::readText(fs::path(image).replace_extension("xmp")), before);
    }

    // The run yields to the event loop between batches: other work queued meanwhile gets its turn
    // before the run ends. Closing the window mid-run drops the posted batches with its state.
    void theEventLoopRunsBetweenBatchesAndAClosedWindowAbandonsTheRest() {
        test::PhotoFolder photos;
        test::TestEngine services;
        auto state = std::make_unique<ContentState>(services.engine());
        QVERIFY(state->startRun(photos.missingFiles(20)));
        int64_t processedWhenTimerRan = -1;
        QTimer::singleShot(0, this, [&] { processedWhenTimerRan = state->progress().processedCount; });
        WAIT_FOR_RUN_END(*state);
        QVERIFY(processedWhenTimerRan >= 0 && processedWhenTimerRan < 20);
        QCOMPARE(state->progress().processedCount, int64_t(20));
        QVERIFY(state->startRun(photos.missingFiles(20)));
        state.reset();
        QTest::qWait(50);  // nothing touches the state afterwards
    }

    // A list view lays itself out anew on each insertion, so rows that arrive back to back go in
    // together; none is lost, and their order stays.
    void rowsArrivingBackToBackAreInsertedTogether() {
        test::PhotoFolder photos;
        test::TestEngine services;
        InlineExecutor inPlace;  // the whole run happens inside startRun, without the event loop
        ContentState state(services.engine(), inPlace.executor());
        ResultListModel model(state);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QVERIFY(state.startRun(photos.missingFiles(300)));
        QCOMPARE(inserted.count(), 2);  // the first row at once, the rest when the run ended
        QCOMPARE(model.rowCount(), 300);
        QCOMPARE(model.index(299).data().toString(), QStringLiteral("IMG_1299.HEIC"));
    }
};

QTEST_MAIN(WindowStateTest)
#include "WindowStateTest.moc"
