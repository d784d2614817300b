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
#include "ui/ResultRowDelegate.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTimer>

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// What the zone answered to a drag: to its entry, and to the drop (with the action it took).
struct DropAnswer {
    bool enterAccepted = false;
    Qt::DropAction enterAction = Qt::IgnoreAction;  // what the source is shown while the drag hovers
    bool dropAccepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// Delivers a drop as the window system does: a drag entering the zone, then the drop, with the
// actions the drag's source offers and the one it proposes (a file manager proposes Move when the
// user holds Shift, or by default between folders of one volume).
DropAnswer dragOnto(DropZone& zone, const QMimeData& mime, Qt::DropActions offered = Qt::CopyAction,
                    Qt::DropAction proposed = Qt::CopyAction) {
    const QPointF centre = QRectF(zone.rect()).center();
    DropAnswer answer;
    // The proposed action comes from the keys held, as in a file manager: Shift moves, Alt links.
    const Qt::KeyboardModifiers keys = proposed == Qt::MoveAction   ? Qt::ShiftModifier
                                       : proposed == Qt::LinkAction ? Qt::AltModifier
                                                                    : Qt::NoModifier;
    QDragEnterEvent enter(centre.toPoint(), offered, &mime, Qt::LeftButton, keys);
    if (enter.proposedAction() != proposed) qWarning("the drag does not propose the intended action");
    QCoreApplication::sendEvent(&zone, &enter);
    answer.enterAccepted = enter.isAccepted();
    answer.enterAction = enter.dropAction();
    QDropEvent drop(centre, offered, &mime, Qt::LeftButton, keys);
    QCoreApplication::sendEvent(&zone, &drop);
    answer.dropAccepted = drop.isAccepted();
    answer.action = drop.dropAction();
    return answer;
}

bool dropOn(DropZone& zone, const QMimeData& mime) { return dragOnto(zone, mime).dropAccepted; }

// Palettes the window must stay readable in: Qt's own light one and a dark one (Breeze Dark's
// colours, as KDE ships them).
QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x20, 0x23, 0x26));
    palette.setColor(QPalette::Base, QColor(0x14, 0x16, 0x18));
    palette.setColor(QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
    palette.setColor(QPalette::Text, QColor(0xfc, 0xfc, 0xfc));
    palette.setColor(QPalette::Link, QColor(0x1d, 0x99, 0xf3));
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    return palette;
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
                 QStringLiteral("Drop HEIC/HEIF/DNG files or folders. Or click, or press Enter or Space, to choose files "
                                "(File \u25B8 Open Files\u2026, Ctrl+O); Ctrl+Shift+O chooses a folder. Existing .xmp "
                                "sidecars will be updated."));
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
        // The tooltip tells rows of the same name apart by the file's full path.
        QCOMPARE(model.index(0).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("IMG_0001.HEIC: ") + updated + QLatin1Char('\n') + QString::fromStdString(loose.string()));
    }

    // The program only reads what is dropped: a source told its files were moved may delete them.
    void dropsAreTakenAsCopiesOnly_data() {
        QTest::addColumn<Qt::DropActions>("offered");
        QTest::addColumn<Qt::DropAction>("proposed");
        QTest::addColumn<bool>("taken");
        QTest::newRow("copy") << Qt::DropActions(Qt::CopyAction) << Qt::CopyAction << true;
        QTest::newRow("move proposed, copy offered") << (Qt::MoveAction | Qt::CopyAction) << Qt::MoveAction << true;
        QTest::newRow("link proposed, copy offered") << (Qt::LinkAction | Qt::CopyAction) << Qt::LinkAction << true;
        QTest::newRow("move only") << Qt::DropActions(Qt::MoveAction) << Qt::MoveAction << false;
        QTest::newRow("link only") << Qt::DropActions(Qt::LinkAction) << Qt::LinkAction << false;
    }

    void dropsAreTakenAsCopiesOnly() {
        QFETCH(Qt::DropActions, offered);
        QFETCH(Qt::DropAction, proposed);
        QFETCH(bool, taken);
        test::PhotoFolder photos;
        const fs::path photo = photos.addPhoto("IMG_0001.HEIC", test::canonicalSidecar);
        Window window;
        const DropAnswer answer = dragOnto(*window.view.dropZone(), *test::dragOf({photo}), offered, proposed);
        QCOMPARE(answer.enterAccepted, taken);
        QCOMPARE(answer.dropAccepted, taken);
        if (taken) {
            QCOMPARE(answer.enterAction, Qt::CopyAction);
            QCOMPARE(answer.action, Qt::CopyAction);
        }
        QCOMPARE(window.view.progressBlock()->isVisibleTo(&window.view), taken);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QVERIFY(fs::exists(photo));
    }

    void aDropDuringARunIsRefused() {
        test::PhotoFolder photos;
        std::vector<fs::path> files;
        for (int i = 1; i <= 3; ++i) files.push_back(photos.addPhoto("IMG_000" + std::to_string(i) + ".HEIC", test::canonicalSidecar));
        Window window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.view));
        QVERIFY(dropOn(*window.view.dropZone(), *test::dragOf(files)));
        // Refused already while the drag hovers, so its source shows the refusal.
        const DropAnswer second = dragOnto(*window.view.dropZone(), *test::dragOf({photos.path()}));
        QVERIFY(!second.enterAccepted);
        QVERIFY(!second.dropAccepted);
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

    // Tab to the list, Down to the third row, then its two actions from the keyboard alone.
    void theThirdRowsActionsArePressedFromTheKeyboard() {
        test::PhotoFolder photos;
        std::vector<fs::path> files;
        for (int i = 1; i <= 4; ++i) files.push_back(photos.addPhoto("IMG_000" + std::to_string(i) + ".HEIC", test::canonicalSidecar));
        Window window;
        window.view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window.view));
        window.state.startRun(files);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QTRY_VERIFY(window.view.resultList()->isVisible());
        ResultListView& list = *window.view.resultList();
        QSignalSpy reveal(&list, &ResultListView::revealRequested);

        window.view.dryRunBox()->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 5 && !list.hasFocus(); ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(list.hasFocus());
        QCOMPARE(list.currentIndex().row(), 0);  // the focus lands on a row, and the row shows it
        QTest::keyClick(&list, Qt::Key_Down);
        QTest::keyClick(&list, Qt::Key_Down);
        const QModelIndex third = list.currentIndex();
        QCOMPARE(third.row(), 2);
        const QString name = third.data().toString();
        // What a screen reader reads for the row: its name and text, and how to act on it.
        QCOMPARE(third.data(Qt::AccessibleTextRole).toString(), name + QStringLiteral(", Already correct"));
        QVERIFY(third.data(Qt::AccessibleDescriptionRole).toString().contains(QStringLiteral("Enter: Reveal in File Manager")));

        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(reveal.count(), 1);
        QCOMPARE(reveal.front().front().toInt(), 2);
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&list, Qt::Key_Right);
        QCOMPARE(list.rowDelegate().focusedButton(), ResultRowDelegate::Button::copy);
        QTest::keyClick(&list, Qt::Key_Space);
        QCOMPARE(QGuiApplication::clipboard()->text(), name + QStringLiteral(": Already correct"));

        // The row's menu holds both actions.
        QTimer::singleShot(0, [] {
            QWidget* menu = QApplication::activePopupWidget();
            if (!menu) return;
            QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(reveal.count(), 2);
    }

    // A failed row's cause stays readable: long paths are shortened in their middle, the text wraps
    // onto whole lines, and no line is wider than the row's text column.
    void longResultTextsWrapWithThePathShortenedInTheMiddle() {
        const QString folder = QStringLiteral("/media/photos/") + QString(QStringLiteral("Exports_2024/")).repeated(8);
        const QString text = QStringLiteral("Failed: Cannot create a file beside \"") + folder +
                             QStringLiteral(".IMG_0003.xmp.tmp\": Read-only file system");
        const QFont caption = theme::captionFont(QApplication::font());
        const QFontMetrics metrics(caption);
        const int width = 260;
        const QStringList lines = wrapResultText(text, caption, width, ResultRowDelegate::maxTextLines);
        QVERIFY(lines.size() > 1 && lines.size() <= ResultRowDelegate::maxTextLines);
        for (const QString& line : lines) QVERIFY2(metrics.horizontalAdvance(line) <= width, qPrintable(line));
        // Line breaks fall at spaces and hyphens, so the words are compared without spaces.
        const QString shown = lines.join(QString()).remove(QLatin1Char(' '));
        QVERIFY(shown.contains(QStringLiteral("Read-onlyfilesystem")));
        QVERIFY(shown.contains(QStringLiteral("/media/")));
        QVERIFY(shown.contains(QStringLiteral(".IMG_0003.xmp.tmp")));  // underscores and all
        QVERIFY(shown.contains(QChar(0x2026)));
        // Underscores are drawn: at some fractional sizes the hinted "_" glyph vanishes entirely.
        QImage image(80, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.setFont(caption);
            painter.setPen(Qt::black);
            painter.drawText(QRect(0, 5, 80, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("__"));
        }
        int ink = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) ink += qGray(image.pixel(x, y)) < 200;
        QVERIFY(ink > 0);
        // Short texts stay as they are; too many lines end in an ellipsis.
        QCOMPARE(wrapResultText(QStringLiteral("Already correct"), caption, width, 12), QStringList{QStringLiteral("Already correct")});
        const QStringList capped = wrapResultText(QStringLiteral("a\nb\nc\nd"), caption, width, 2);
        QCOMPARE(capped, (QStringList{QStringLiteral("a"), QStringLiteral("b\u2026")}));
    }

    // At its smallest the window keeps every part readable: a photo's name, the drop zone's text.
    void theSmallestWindowKeepsEveryPartReadable() {
        test::PhotoFolder photos;
        const fs::path photo = photos.addPhoto("IMG_0001.HEIC", test::letterlessSidecar);
        Window window;
        window.state.startRun({photo});
        QTRY_VERIFY_WITH_TIMEOUT(window.idle(), 60000);
        QTRY_VERIFY(window.view.resultList()->isVisible());
        window.view.resize(window.view.minimumSizeHint());
        QTRY_COMPARE(window.view.size(), window.view.minimumSizeHint());
        ResultListView& list = *window.view.resultList();
        const QModelIndex row = window.view.resultModel().index(0);
        const ResultRowDelegate::Layout parts = list.rowDelegate().layout(list.rowOption(row), row);
        QVERIFY(QFontMetrics(list.font()).horizontalAdvance(QStringLiteral("IMG_0001.HEIC")) <= parts.name.width());
        QVERIFY(!parts.text.intersects(parts.reveal));
        // Every line of the text gets a whole line's height, descenders included.
        const QFontMetrics caption(theme::captionFont(list.font()));
        const auto lines = list.rowDelegate().textLines(list.rowOption(row), row).size();
        QVERIFY(parts.text.height() >= lines * caption.height());
        QVERIFY(list.visualRect(row).contains(parts.text));
        const int subtitle = QFontMetrics(theme::captionFont(window.view.font())).horizontalAdvance(DropZone::subtitleText);
        QVERIFY(window.view.dropZone()->width() > subtitle);
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
        QSet<QByteArray> shapes;
        for (size_t caseIndex = 0; caseIndex < std::variant_size_v<ProcessingResult>; ++caseIndex) {
            const QImage icon = outcomeIcon(caseIndex, 16, 2.0, palette);
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
            const QColor drawn = outcomeColor(caseIndex, palette);
            QCOMPARE(strongest.name(), drawn.name());
            const QColor system = outcomeColor(caseIndex);
            if (system.hslSaturation() > 0) QVERIFY(std::abs(drawn.hslHue() - system.hslHue()) <= 3);
            for (const QColor& background : {theme::windowBackground(palette), theme::listBackground(palette)})
                QVERIFY2(theme::contrastRatio(drawn, background) >= 3.0, qPrintable(drawn.name() + " on " + background.name()));
        }
        QCOMPARE(shapes.size(), 9);
        QCOMPARE(outcomeColor(0).name(), outcomeColor(8).name());  // updated and alreadyCorrect: both green

        const QColor badge = theme::accentOn(theme::orange(), palette, theme::textContrast);
        QVERIFY(std::abs(badge.hslHue() - theme::orange().hslHue()) <= 3);
        for (const QColor& text : {badge, theme::secondaryColor(palette),
                                   theme::accentOn(palette.color(QPalette::Link), palette, theme::textContrast)})
            for (const QColor& background : {theme::windowBackground(palette), theme::listBackground(palette)})
                QVERIFY2(theme::contrastRatio(text, background) >= 4.5, qPrintable(text.name() + " on " + background.name()));
        // The ratio itself, against the published WCAG figures.
        QCOMPARE(qRound(theme::contrastRatio(Qt::black, Qt::white) * 10), 210);
        QCOMPARE(qRound(theme::contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white) * 100), 454);
    }
};

QTEST_MAIN(ContentViewTest)
#include "ContentViewTest.moc"
