// The window's logic without widgets: switches and their publishing, drops, runs over real photos,
// the filter, the texts and the clipboard.

#include "WindowTestSupport.h"

#include "engine/ResultReport.h"
#include "engine/RunSettings.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <variant>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

void setShared(bool dryRun, bool alwaysOverwrite, bool appleOnly, bool silent) {
    RunSettings& shared = RunSettings::shared();
    shared.dryRun = dryRun;
    shared.alwaysOverwrite = alwaysOverwrite;
    shared.appleOnly = appleOnly;
    shared.silentlyIgnoreSkipped = silent;
}

bool runFinished(const ContentState& state) { return !state.isProcessing(); }

template <typename Case>
int countOf(const ContentState& state) {
    int count = 0;
    for (const auto& row : state.progress().results) count += std::holds_alternative<Case>(row.result) ? 1 : 0;
    return count;
}

}  // namespace

class ContentStateTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Diagnostics::setSink({}); }

    void startsInDryRunAndPublishesAllFourSwitches() {
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.dryRun());
        QVERIFY(!state.silentlyIgnoreSkipped());
        QVERIFY(!state.alwaysOverwrite());
        QVERIFY(state.appleOnly());
        QVERIFY(state.badgeVisible());
        QVERIFY(!state.progressVisible());
        QVERIFY(!state.hasVisibleResults());

        // Whatever the process-wide switches held before, publishing writes all four.
        setShared(false, true, false, true);
        state.publishSettings();
        const RunSettings& shared = RunSettings::shared();
        QVERIFY(shared.dryRun);
        QVERIFY(!shared.alwaysOverwrite);
        QVERIFY(shared.appleOnly);
        QVERIFY(!shared.silentlyIgnoreSkipped);
    }

    void aSwitchChangeIsPublishedAtOnce() {
        test::TestEngine services;
        ContentState state(services.engine());
        state.publishSettings();
        QSignalSpy changed(&state, &ContentState::switchesChanged);

        state.setDryRun(false);
        QVERIFY(!RunSettings::shared().dryRun);
        QVERIFY(!state.badgeVisible());
        state.setSilentlyIgnoreSkipped(true);
        QVERIFY(RunSettings::shared().silentlyIgnoreSkipped);
        QCOMPARE(changed.count(), 2);

        // Setting a switch to the value it has is no change.
        state.setDryRun(false);
        QCOMPARE(changed.count(), 2);
        state.setDryRun(true);
        QVERIFY(RunSettings::shared().dryRun);
        QVERIFY(state.badgeVisible());
    }

    void dropCollectsLocalFileURLsInOrder_data() {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<QList<QByteArray>>("expected");
        QTest::newRow("several files, order kept")
            << QList<QUrl>{QUrl("file:///p/c.heic"), QUrl("file:///p/a.heic"), QUrl("file:///p/b")}
            << QList<QByteArray>{"/p/c.heic", "/p/a.heic", "/p/b"};
        QTest::newRow("web and other hosts' URLs are left out")
            << QList<QUrl>{QUrl("https://example.com/a.heic"), QUrl("file:///p/a.heic"), QUrl("file://server/share/b.heic")}
            << QList<QByteArray>{"/p/a.heic"};
        QTest::newRow("localhost is this machine")
            << QList<QUrl>{QUrl("file://localhost/p/a.heic")} << QList<QByteArray>{"/p/a.heic"};
        QTest::newRow("spaces and UTF-8 names")
            << QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/p/Ferien 2024/Ä.heic"))}
            << QList<QByteArray>{"/p/Ferien 2024/\xC3\x84.heic"};
        QTest::newRow("a name that is not UTF-8 keeps its bytes")
            << QList<QUrl>{QUrl::fromEncoded("file:///p/%FF%FE.heic")} << QList<QByteArray>{"/p/\xFF\xFE.heic"};
        QTest::newRow("nothing usable") << QList<QUrl>{QUrl("mailto:a@b.c")} << QList<QByteArray>{};
    }

    void dropCollectsLocalFileURLsInOrder() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(QList<QByteArray>, expected);
        QMimeData mime;
        mime.setUrls(urls);
        const auto paths = droppedFileURLs(mime);
        QList<QByteArray> got;
        for (const auto& path : paths) got.append(QByteArray::fromStdString(path.string()));
        QCOMPARE(got, expected);
        QCOMPARE(carriesFileURLs(mime), !expected.isEmpty());
    }

    void aDropOfRealPhotosRunsToItsEnd() {
        test::PhotoFolder photos;
        const fs::path updated = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        photos.addPhoto("IMG_0002.HEIC", test::canonicalSidecar);
        photos.addPhoto("IMG_0003.heic", test::elsewhereSidecar);
        photos.addFile("notes.txt");
        const std::string before = test::readText(fs::path(updated).replace_extension("xmp"));

        test::TestEngine services;
        ContentState state(services.engine());
        state.publishSettings();
        QSignalSpy rows(&state, &ContentState::rowAdded);
        QVERIFY(state.handleDrop(*test::dragOf({photos.path()})));
        QVERIFY(state.isProcessing());
        QCOMPARE(state.progress().totalCount, int64_t(3));
        QVERIFY(state.progressVisible());

        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QCOMPARE(rows.count(), 3);
        QCOMPARE(state.progress().processedCount, int64_t(3));
        QCOMPARE(state.statusText(), QStringLiteral("Processed 3/3"));
        QCOMPARE(countOf<outcome::Updated>(state), 1);
        QCOMPARE(countOf<outcome::AlreadyCorrect>(state), 1);
        QCOMPARE(countOf<outcome::SkippedDifferentGPS>(state), 1);
        QCOMPARE(state.visibleCount(), int64_t(3));
        // Dry Run is on: nothing was written.
        QCOMPARE(test::readText(fs::path(updated).replace_extension("xmp")), before);
    }

    void theStatusLineNamesTheFileOfTheLastRowDuringARun() {
        test::PhotoFolder photos;
        for (int i = 1; i <= 3; ++i) photos.addPhoto("IMG_000" + std::to_string(i) + ".HEIC", test::canonicalSidecar);
        test::TestEngine services;
        ContentState state(services.engine());
        QStringList seen;
        connect(&state, &ContentState::rowAdded, this, [&] { seen.append(state.statusText()); });
        QVERIFY(state.startRun({photos.path() / "IMG_0001.HEIC", photos.path() / "IMG_0002.HEIC",
                                photos.path() / "IMG_0003.HEIC"}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QCOMPARE(seen, (QStringList{QStringLiteral("Processed 1/3 • IMG_0001.HEIC"),
                                    QStringLiteral("Processed 2/3 • IMG_0002.HEIC"),
                                    QStringLiteral("Processed 3/3 • IMG_0003.HEIC")}));
        QCOMPARE(state.statusText(), QStringLiteral("Processed 3/3"));
    }

    void aDropDuringARunIsRefusedAndTheRunGoesOn() {
        test::PhotoFolder photos;
        const fs::path first = photos.addPhoto("IMG_0001.HEIC", test::canonicalSidecar);
        const fs::path second = photos.addPhoto("IMG_0002.HEIC", test::canonicalSidecar);
        const fs::path third = photos.addPhoto("IMG_0003.HEIC", test::canonicalSidecar);
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.startRun({first, second, third}));

        QVERIFY(!state.handleDrop(*test::dragOf({photos.path()})));
        QVERIFY(!state.startRun({first}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QCOMPARE(state.progress().totalCount, int64_t(3));
        QCOMPARE(state.progress().results.size(), size_t(3));
        QCOMPARE(state.progress().results[2].fileURL, third);
    }

    void aDropWithoutMediaClearsThePreviousRun() {
        test::PhotoFolder photos;
        const fs::path photo = photos.addPhoto("IMG_0001.HEIC", test::canonicalSidecar);
        const fs::path text = photos.addFile("notes.txt");
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.startRun({photo}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QVERIFY(state.hasVisibleResults());

        // Accepted, yet nothing starts: the rows, the counts and the progress block are gone.
        QVERIFY(state.handleDrop(*test::dragOf({text})));
        QVERIFY(!state.isProcessing());
        QVERIFY(state.progress().results.empty());
        QCOMPARE(state.progress().totalCount, int64_t(0));
        QVERIFY(!state.progressVisible());
        QVERIFY(!state.hasVisibleResults());

        // So does a drop from which no file URL could be had.
        QVERIFY(state.startRun({photo}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QMimeData web;
        web.setUrls({QUrl("https://example.com/IMG_0001.HEIC")});
        QVERIFY(state.handleDrop(web));
        QVERIFY(state.progress().results.empty());
    }

    void silentlyIgnoreSkippedFiltersTheRowsAtOnce() {
        test::PhotoFolder photos;
        const fs::path correct = photos.addPhoto("IMG_0001.HEIC", test::canonicalSidecar);
        const fs::path camera = photos.addCameraPhoto("DSC_0002.HEIC");
        const fs::path differs = photos.addPhoto("IMG_0003.HEIC", test::elsewhereSidecar);
        test::TestEngine services;
        ContentState state(services.engine());

        // Every outcome of this run is hidden by the filter: no rows, no report.
        state.setSilentlyIgnoreSkipped(true);
        QVERIFY(state.startRun({correct, camera}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QCOMPARE(state.progress().results.size(), size_t(2));
        QCOMPARE(countOf<outcome::SkippedNonApple>(state), 1);
        QVERIFY(!state.hasVisibleResults());
        QVERIFY(state.visibleResults().empty());
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        state.copyAllResults();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

        state.setSilentlyIgnoreSkipped(false);
        QCOMPARE(state.visibleCount(), int64_t(2));

        // A differing position is never hidden, though its text begins "Skipped".
        state.setSilentlyIgnoreSkipped(true);
        QVERIFY(state.startRun({correct, differs}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QCOMPARE(state.visibleCount(), int64_t(1));
        QCOMPARE(state.visibleResults().front()->fileURL, differs);
    }

    void copiesPutTheRowAndTheReportOnTheClipboard() {
        test::PhotoFolder photos;
        const fs::path differs = photos.addPhoto("IMG_0001.HEIC", test::elsewhereSidecar);
        const fs::path correct = photos.addPhoto("IMG_0002.HEIC", test::canonicalSidecar);
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.startRun({differs, correct}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);

        const ProcessingResultDetail& first = state.progress().results.front();
        state.copyResult(first);
        const QString row = QGuiApplication::clipboard()->text();
        QVERIFY2(row.startsWith(QStringLiteral("IMG_0001.HEIC: Skipped (GPS differs):\n• ")), qPrintable(row));

        state.copyAllResults();
        const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
        QVERIFY(lines.size() >= 3);
        QVERIFY2(lines.front().startsWith(QStringLiteral("Results — ")), qPrintable(lines.front()));
        QVERIFY2(lines.front().endsWith(
                     QStringLiteral(" — Settings: DryRun=true ForceOverwrite=false AppleOnly=true SilentSkip=false")),
                 qPrintable(lines.front()));
        QCOMPARE(lines.back(), QStringLiteral("IMG_0002.HEIC: Already correct"));

        // The header carries the switches at the moment of copying.
        state.setDryRun(false);
        state.copyAllResults();
        QVERIFY(QGuiApplication::clipboard()->text().section(QLatin1Char('\n'), 0, 0).contains(
            QStringLiteral("DryRun=false ForceOverwrite=false AppleOnly=true SilentSkip=false")));
    }

    void updatedRowsFollowTheCurrentDryRunSwitch() {
        test::PhotoFolder photos;
        const fs::path photo = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.startRun({photo}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        const ProcessingResultDetail& row = state.progress().results.front();
        QVERIFY(std::holds_alternative<outcome::Updated>(row.result));
        QVERIFY(state.resultText(row).startsWith(QStringLiteral("[Dry Run] Would Update:\n• [DRY RUN] would update: ")));
        state.setDryRun(false);
        QVERIFY(state.resultText(row).startsWith(QStringLiteral("Updated:\n• [DRY RUN] would update: ")));
    }

    // Windows share the published switches, but a run only ever follows its own window's: a window
    // that shows "Dry Run - No Changes Made" never writes because another window turned Dry Run off.
    void aRunFollowsItsOwnWindowsSwitches() {
        test::PhotoFolder photos;
        const fs::path photo = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        const fs::path sidecar = fs::path(photo).replace_extension("xmp");
        const std::string before = test::readText(sidecar);
        test::TestEngine services;
        ContentState dryWindow(services.engine());
        ContentState writingWindow(services.engine());
        dryWindow.publishSettings();
        writingWindow.publishSettings();
        writingWindow.setDryRun(false);
        QVERIFY(!RunSettings::shared().dryRun);

        QVERIFY(dryWindow.startRun({photo}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(dryWindow), 60000);
        QCOMPARE(test::readText(sidecar), before);

        QVERIFY(writingWindow.startRun({photo}));
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(writingWindow), 60000);
        QVERIFY(test::readText(sidecar) != before);
        QVERIFY(test::readText(sidecar).find("37.77490000N") != std::string::npos);
    }

    // The run yields to the event loop between batches: other work queued meanwhile gets its turn
    // before the run ends.
    void theEventLoopRunsBetweenBatches() {
        test::PhotoFolder photos;
        std::vector<fs::path> missing;
        for (int i = 0; i < 20; ++i) missing.push_back(photos.path() / ("IMG_" + std::to_string(i) + ".HEIC"));
        test::TestEngine services;
        ContentState state(services.engine());
        QVERIFY(state.startRun(missing));
        int64_t processedWhenTimerRan = -1;
        QTimer::singleShot(0, this, [&] { processedWhenTimerRan = state.progress().processedCount; });
        QTRY_VERIFY_WITH_TIMEOUT(runFinished(state), 60000);
        QVERIFY(processedWhenTimerRan >= 0);
        QVERIFY(processedWhenTimerRan < 20);
        QCOMPARE(state.progress().processedCount, int64_t(20));
    }

    void closingTheWindowDuringARunAbandonsTheRest() {
        test::PhotoFolder photos;
        std::vector<fs::path> missing;
        for (int i = 0; i < 10; ++i) missing.push_back(photos.path() / ("IMG_" + std::to_string(i) + ".HEIC"));
        test::TestEngine services;
        auto state = std::make_unique<ContentState>(services.engine());
        QVERIFY(state->startRun(missing));
        state.reset();
        // The posted batches are dropped with the state; nothing touches it afterwards.
        QTest::qWait(50);
    }
};

QTEST_MAIN(ContentStateTest)
#include "ContentStateTest.moc"
