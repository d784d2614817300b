// SPDX-License-Identifier: GPL-3.0-or-later
// The window's state without a screen: its switches and their publishing, drops and runs over real
// photos, the filter, the texts and the clipboard.

#include "WindowTestSupport.h"

#include "engine/RunSettings.h"
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

        // Whatever the process-wide switches held before, publishing writes all four.
        RunSettings& shared = RunSettings::shared();
        shared.dryRun = false;
        shared.alwaysOverwrite = true;
        shared.appleOnly = false;
        shared.silentlyIgnoreSkipped = true;
        state.publishSettings();
        QVERIFY(shared.dryRun && !shared.alwaysOverwrite && shared.appleOnly && !shared.silentlyIgnoreSkipped);

        QSignalSpy changed(&state, &ContentState::switchesChanged);
        state.setDryRun(false);
        QVERIFY(!shared.dryRun && !state.badgeVisible());
        state.setSilentlyIgnoreSkipped(true);
        state.setDryRun(false);  // the value it has: no change
        QVERIFY(shared.silentlyIgnoreSkipped);
        QCOMPARE(changed.count(), 2);
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
        QVERIFY(!RunSettings::shared().dryRun && dryWindow.startRun(images));
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
