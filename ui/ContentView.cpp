// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ContentView.h"

#include "ui/Accessibility.h"
#include "ui/ContentState.h"
#include "ui/Desktop.h"
#include "ui/DropZone.h"
#include "ui/ElidedLabel.h"
#include "ui/FlowLayout.h"
#include "ui/OutcomeIcon.h"
#include "ui/ResultListModel.h"
#include "ui/ResultListView.h"
#include "ui/Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <limits>

namespace corvane {
namespace {

// Sizes in device-independent pixels.
constexpr int switchSpacing = 16;
constexpr int progressSpacing = 8;
constexpr int countSpacing = 4;
constexpr int progressBarHeight = 8;  // a slim bar, as the desktops draw theirs
constexpr int noticeSeconds = 8;
constexpr int countIconSide = 14;

// The caption style in the secondary colour, for the window's present palette.
void useSecondaryStyle(QWidget& widget, const QWidget& window) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, theme::secondaryColor(window.palette()));
    palette.setColor(QPalette::ButtonText, theme::secondaryColor(window.palette()));
    widget.setPalette(palette);
    widget.setFont(theme::captionFont(window.font()));
}

QString rgba(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alphaF());
}

}  // namespace

ContentView::ContentView(ContentState& state, QWidget* parent) : QWidget(parent), state_(state) {
    accessibility::install();
    model_ = new ResultListModel(state_, this);

    layout_ = new QVBoxLayout(this);
    addHeader();
    addDropZone();
    addProgress();
    addResults();
    addActions();
    // Keeps the content at the top while no list takes up the height.
    bottomSpace_ = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    layout_->addItem(bottomSpace_);

    followState();
    applyPalette();
    refit();
}

void ContentView::applyPalette() {
    badge_->setStyleSheet(QStringLiteral("QLabel#dryRunBadge { color: %1; border: 1px solid %1; border-radius: 4px;"
                                         " padding: 2px 6px; }")
                              .arg(theme::accentOn(theme::orange(), palette(), theme::textContrast).name()));
    for (QWidget* secondary : std::initializer_list<QWidget*>{statusLabel_, notice_}) useSecondaryStyle(*secondary, *this);
    // The counts are buttons: each framed as a pill, filled while it filters the list.
    const QColor highlight = theme::accentOn(palette().color(QPalette::Active, QPalette::Highlight), palette(), theme::iconContrast);
    const QString pill = QStringLiteral("QToolButton { border: 1px solid %1; border-radius: 9px; padding: 1px 2px 1px 5px; }"
                                        " QToolButton:hover { border-color: %2; }"
                                        " QToolButton:checked { background-color: %3; border-color: %2; }"
                                        " QToolButton:focus { border: 2px solid %2; padding: 0px 1px 0px 4px; }")
                             .arg(rgba(theme::secondaryColor(palette()), 0.35), highlight.name(), rgba(highlight, 0.18));
    for (size_t caseIndex = 0; caseIndex < countButtons_.size(); ++caseIndex) {
        QToolButton* count = countButtons_[caseIndex];
        useSecondaryStyle(*count, *this);
        count->setStyleSheet(pill);
        count->setIcon(QIcon(QPixmap::fromImage(outcomeIcon(caseIndex, countIconSide, devicePixelRatioF(), palette()))));
    }
}

void ContentView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A desktop switched to a dark style, for one: the colours worked out from the palette follow it.
    if (event->type() == QEvent::PaletteChange) applyPalette();
}

ContentView::~ContentView() = default;

QLabel* ContentView::statusLabel() const { return statusLabel_; }

QLabel* ContentView::notice() const { return notice_; }

void ContentView::addHeader() {
    titleRow_ = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Corvane"), this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(theme::title2Font(font()));
    badge_ = new QLabel(QStringLiteral("Dry Run - No Changes Made"), this);
    badge_->setObjectName(QStringLiteral("dryRunBadge"));
    badge_->setFont(theme::captionFont(font()));
    titleRow_->addWidget(title, 0, Qt::AlignVCenter);
    titleRow_->addWidget(badge_, 0, Qt::AlignVCenter);
    titleRow_->addStretch(1);

    switchRow_ = new QHBoxLayout;
    switchRow_->setSpacing(switchSpacing);
    dryRunBox_ = new QCheckBox(QStringLiteral("Dry Run"), this);
    dryRunBox_->setToolTip(QStringLiteral("Simulates the update without actually modifying any XMP files."));
    silentSkipBox_ = new QCheckBox(QStringLiteral("Silently Ignore Skipped"), this);
    silentSkipBox_->setToolTip(QStringLiteral("Hide skipped files from the results list."));
    switchRow_->addWidget(dryRunBox_, 0, Qt::AlignVCenter);
    switchRow_->addWidget(silentSkipBox_, 0, Qt::AlignVCenter);
    switchRow_->addStretch(1);
    connect(dryRunBox_, &QCheckBox::toggled, &state_, &ContentState::setDryRun);
    connect(silentSkipBox_, &QCheckBox::toggled, &state_, &ContentState::setSilentlyIgnoreSkipped);

    // The title row above the switches; side by side where the height is short (see refit()).
    header_ = new QBoxLayout(QBoxLayout::TopToBottom);
    header_->addLayout(titleRow_);
    header_->addLayout(switchRow_);
    layout_->addLayout(header_);
}

void ContentView::addDropZone() {
    dropZone_ = new DropZone(this);
    dropZone_->setDropHandler([this](const QMimeData& mime) { return state_.handleDrop(mime); });
    dropZone_->setDropCheck([this](bool copyOffered) { return state_.dropRefusal(copyOffered); });
    connect(dropZone_, &DropZone::refused, &state_, &ContentState::refuseDrop);
    layout_->addWidget(dropZone_);
}

void ContentView::addProgress() {
    progressBlock_ = new QWidget(this);
    auto* progressLayout = new QVBoxLayout(progressBlock_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(progressSpacing);
    progressBar_ = new QProgressBar(progressBlock_);
    progressBar_->setTextVisible(false);
    progressBar_->setFixedHeight(progressBarHeight);
    progressBar_->setAccessibleName(QStringLiteral("Progress"));
    progressLayout->addWidget(progressBar_);

    // The status line, and after a run the counts beside it, wrapping onto further lines where narrow.
    auto* statusLine = new FlowLayout(nullptr, 2 * countSpacing, countSpacing);
    statusLabel_ = new ElidedLabel(Qt::ElideMiddle, progressBlock_);
    statusLabel_->setObjectName(QStringLiteral("status"));
    // The status line names the progress bar for screen readers, and the bar points back to it.
    statusLabel_->setBuddy(progressBar_);
    statusLine->addWidget(statusLabel_);
    for (size_t caseIndex = 0; caseIndex < countButtons_.size(); ++caseIndex) {
        auto* count = new QToolButton(progressBlock_);
        count->setCheckable(true);
        count->setAutoRaise(true);
        count->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        count->setIconSize(QSize(countIconSide, countIconSide));
        count->setFocusPolicy(Qt::StrongFocus);
        count->hide();
        connect(count, &QToolButton::clicked, &state_, [this, caseIndex] { state_.toggleOutcomeFilter(caseIndex); });
        countButtons_[caseIndex] = count;
        statusLine->addWidget(count);
    }
    progressLayout->addLayout(statusLine);
    layout_->addWidget(progressBlock_);
}

void ContentView::addResults() {
    resultsHeading_ = new QLabel(this);
    accessibility::setRole(*resultsHeading_, QAccessible::Heading);
    resultsHeading_->setText(QStringLiteral("Results"));
    resultsHeading_->setFont(theme::headlineFont(font()));
    layout_->addWidget(resultsHeading_);
    resultList_ = new ResultListView(*model_, this);
    layout_->addWidget(resultList_, 1);
    connect(resultList_, &ResultListView::copyRequested, this, [this](int row) {
        if (const ProcessingResultDetail* detail = model_->detail(row)) state_.copyResult(*detail);
    });
    connect(resultList_, &ResultListView::revealRequested, this, [this](int row) {
        if (const ProcessingResultDetail* detail = model_->detail(row)) revealInFileManager(detail->fileURL);
    });
}

void ContentView::addActions() {
    actionRow_ = new QHBoxLayout;
    actionRow_->setSpacing(switchSpacing);
    copyAllButton_ = new QPushButton(QStringLiteral("Copy All Results"), this);
    copyAllButton_->setAutoDefault(false);
    notice_ = new ElidedLabel(Qt::ElideRight, this);
    notice_->setObjectName(QStringLiteral("notice"));
    // Shown anew for every notice, so that screen readers announce each one; hidden, it keeps its room
    // beside the button.
    accessibility::setRole(*notice_, QAccessible::Notification);
    QSizePolicy keepsItsRoom = notice_->sizePolicy();
    keepsItsRoom.setRetainSizeWhenHidden(true);
    notice_->setSizePolicy(keepsItsRoom);
    notice_->hide();
    actionRow_->addWidget(copyAllButton_);
    actionRow_->addWidget(notice_, 1);
    layout_->addLayout(actionRow_);
    connect(copyAllButton_, &QPushButton::clicked, &state_, &ContentState::copyAllResults);
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    noticeTimer_->setInterval(noticeSeconds * 1000);
    connect(noticeTimer_, &QTimer::timeout, notice_, &QWidget::hide);
}

// Shows the state now and again at each of its changes.
void ContentView::followState() {
    connect(&state_, &ContentState::switchesChanged, this, [this] {
        showSwitches();
        showCounts();
        showResults();
    });
    connect(&state_, &ContentState::filterChanged, this, &ContentView::showCounts);
    connect(&state_, &ContentState::runChanged, this, [this] {
        showRun();
        showCounts();
        showResults();
    });
    connect(&state_, &ContentState::rowAdded, this, [this] {
        showRun();
        showResults();
    });
    connect(&state_, &ContentState::notice, this, &ContentView::showNotice);
    showSwitches();
    showRun();
    showCounts();
    showResults();
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    state_.publishSettings();
}

void ContentView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refit();
}

void ContentView::showSwitches() {
    const QSignalBlocker dryRunBlocker(dryRunBox_);
    const QSignalBlocker silentBlocker(silentSkipBox_);
    dryRunBox_->setChecked(state_.dryRun());
    silentSkipBox_->setChecked(state_.silentlyIgnoreSkipped());
    badge_->setVisible(state_.badgeVisible());
}

void ContentView::showRun() {
    const RunProgress& run = state_.progress();
    const bool visibilityChanged = progressBlock_->isHidden() == state_.progressVisible();
    progressBlock_->setVisible(state_.progressVisible());
    // A progress bar counts in int; very long runs are shown in proportion.
    const int64_t limit = std::numeric_limits<int>::max();
    const int64_t scale = run.totalCount > limit ? run.totalCount / limit + 1 : 1;
    progressBar_->setRange(0, static_cast<int>(std::max<int64_t>(1, run.totalCount / scale)));
    progressBar_->setValue(static_cast<int>(std::min(run.processedCount, run.totalCount) / scale));
    statusLabel_->setText(state_.statusText());
    if (visibilityChanged) refit();
}

void ContentView::showCounts() {
    const bool visible = state_.countsVisible();
    bool changed = false;
    for (size_t caseIndex = 0; caseIndex < countButtons_.size(); ++caseIndex) {
        QToolButton* count = countButtons_[caseIndex];
        const bool shown = visible && state_.outcomeCount(caseIndex) > 0;
        changed |= count->isHidden() == shown;
        count->setVisible(shown);
        if (!shown) continue;
        const QString text = state_.outcomeCountText(caseIndex);
        changed |= count->text() != text;
        count->setText(text);
        count->setChecked(state_.outcomeFilter() == caseIndex);
        count->setEnabled(state_.canFilterBy(caseIndex));
        count->setToolTip(!count->isEnabled()    ? QStringLiteral("Hidden by Silently Ignore Skipped")
                          : count->isChecked() ? QStringLiteral("Show all rows again")
                                               : QStringLiteral("Show only these rows"));
    }
    if (changed) refit();
}

void ContentView::showResults() {
    const bool visible = state_.hasVisibleResults();
    if (visible == resultList_->isHidden() || visible == resultsHeading_->isHidden()) {
        resultsHeading_->setVisible(visible);
        resultList_->setVisible(visible);
        bottomSpace_->changeSize(0, 0, QSizePolicy::Minimum, visible ? QSizePolicy::Fixed : QSizePolicy::Expanding);
        layout_->invalidate();
        refit();
    }
    copyAllButton_->setEnabled(visible);
}

void ContentView::showNotice(const QString& text) {
    notice_->hide();
    notice_->setText(text);
    notice_->show();
    noticeTimer_->start();
}

ContentParts ContentView::measureParts(int width) const {
    ContentParts parts;
    parts.titleRow = titleRow_->sizeHint().height();
    parts.switchRow = switchRow_->sizeHint().height();
    parts.headerRowWidth = titleRow_->minimumSize().width() + switchSpacing + switchRow_->minimumSize().width();
    parts.dropZoneMinimum = dropZone_->minimumSizeHint().height();
    if (!progressBlock_->isHidden())
        parts.progress = progressBlock_->layout()->totalHeightForWidth(width - 2 * ContentFit::roomyInset);
    if (!resultsHeading_->isHidden()) parts.heading = resultsHeading_->sizeHint().height();
    if (!resultList_->isHidden()) parts.listMinimum = resultList_->minimumSizeHint().height();
    parts.actions = actionRow_->sizeHint().height();
    return parts;
}

QSize ContentView::minimumSizeHint() const {
    // Each part at its narrowest. The height is that of the present width, at which the header may
    // take two rows and the status line with the counts more lines than on a wide window.
    const int width = std::max({titleRow_->minimumSize().width(), switchRow_->minimumSize().width(),
                                dropZone_->minimumSizeHint().width(), progressBlock_->minimumSizeHint().width(),
                                resultList_->minimumSizeHint().width(), actionRow_->minimumSize().width()}) +
                      2 * ContentFit::tightInset;
    const int present = std::max(width, this->width());
    return QSize(width, minimumContentHeight(measureParts(present), present));
}

void ContentView::refit() {
    const ContentFit fit = fitContent(measureParts(width()), size());
    // The smallest size follows what is shown (the list, the counts); the window keeps to it.
    if (const QSize minimum = minimumSizeHint(); minimum != minimum_) {
        minimum_ = minimum;
        updateGeometry();
    }
    if (fit == fit_ && layout_->contentsMargins().left() == fit.inset) return;
    fit_ = fit;
    layout_->setContentsMargins(fit.inset, fit.inset, fit.inset, fit.inset);
    layout_->setSpacing(fit.spacing);
    header_->setDirection(fit.headerInOneRow ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    // Side by side, the title row takes the width and the switches keep to the right; one above the
    // other, neither takes more height than it needs.
    header_->setStretch(0, fit.headerInOneRow ? 1 : 0);
    header_->setSpacing(fit.headerInOneRow ? switchSpacing : fit.spacing);
    dropZone_->setFixedHeight(fit.dropZoneHeight);
}

}  // namespace corvane
