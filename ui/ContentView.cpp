// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ContentView.h"

#include "ui/ContentState.h"
#include "ui/Desktop.h"
#include "ui/DropZone.h"
#include "ui/ResultListModel.h"
#include "ui/ResultListView.h"
#include "ui/Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace corvane {
namespace {

// Sizes in device-independent pixels.
constexpr int contentInset = 16;
constexpr int contentSpacing = 12;
constexpr int switchSpacing = 16;
constexpr int progressSpacing = 8;

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, theme::secondaryColor(parent->palette()));
    label->setPalette(palette);
    label->setFont(theme::captionFont(parent->font()));
    return label;
}

}  // namespace

ContentView::ContentView(ContentState& state, QWidget* parent) : QWidget(parent), state_(state) {
    model_ = new ResultListModel(state_, this);

    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(contentInset, contentInset, contentInset, contentInset);
    layout_->setSpacing(contentSpacing);
    addTitle();
    addSwitches();
    addDropZone();
    addProgress();
    addResults();
    addActions();
    // Keeps the content at the top while no list takes up the height.
    bottomSpace_ = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
    layout_->addItem(bottomSpace_);

    followState();
}

void ContentView::addTitle() {
    auto* titleRow = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Corvane"), this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(theme::title2Font(font()));
    badge_ = new QLabel(QStringLiteral("Dry Run - No Changes Made"), this);
    badge_->setObjectName(QStringLiteral("dryRunBadge"));
    badge_->setFont(theme::captionFont(font()));
    badge_->setStyleSheet(QStringLiteral("QLabel#dryRunBadge { color: %1; border: 1px solid %1; border-radius: 4px;"
                                         " padding: 2px 6px; }")
                              .arg(theme::accentOn(theme::orange(), palette(), theme::textContrast).name()));
    titleRow->addWidget(title, 0, Qt::AlignVCenter);
    titleRow->addWidget(badge_, 0, Qt::AlignVCenter);
    titleRow->addStretch(1);
    layout_->addLayout(titleRow);
}

void ContentView::addSwitches() {
    auto* switchRow = new QHBoxLayout;
    switchRow->setSpacing(switchSpacing);
    dryRunBox_ = new QCheckBox(QStringLiteral("Dry Run"), this);
    dryRunBox_->setToolTip(QStringLiteral("Simulates the update without actually modifying any XMP files."));
    silentSkipBox_ = new QCheckBox(QStringLiteral("Silently Ignore Skipped"), this);
    silentSkipBox_->setToolTip(QStringLiteral("Hide skipped files from the results list."));
    switchRow->addWidget(dryRunBox_, 0, Qt::AlignVCenter);
    switchRow->addWidget(silentSkipBox_, 0, Qt::AlignVCenter);
    switchRow->addStretch(1);
    layout_->addLayout(switchRow);
    connect(dryRunBox_, &QCheckBox::toggled, &state_, &ContentState::setDryRun);
    connect(silentSkipBox_, &QCheckBox::toggled, &state_, &ContentState::setSilentlyIgnoreSkipped);
}

void ContentView::addDropZone() {
    dropZone_ = new DropZone(this);
    dropZone_->setDropHandler([this](const QMimeData& mime) { return state_.handleDrop(mime); });
    dropZone_->setDropCheck([this] { return !state_.isProcessing(); });
    layout_->addWidget(dropZone_);
}

void ContentView::addProgress() {
    progressBlock_ = new QWidget(this);
    auto* progressLayout = new QVBoxLayout(progressBlock_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(progressSpacing);
    progressBar_ = new QProgressBar(progressBlock_);
    progressBar_->setTextVisible(false);
    statusLabel_ = secondaryLabel(QString(), progressBlock_);
    statusLabel_->setObjectName(QStringLiteral("status"));
    statusLabel_->setTextFormat(Qt::PlainText);
    progressLayout->addWidget(progressBar_);
    progressLayout->addWidget(statusLabel_);
    layout_->addWidget(progressBlock_);
}

void ContentView::addResults() {
    resultsHeading_ = new QLabel(QStringLiteral("Results"), this);
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
    auto* actionRow = new QHBoxLayout;
    copyAllButton_ = new QPushButton(QStringLiteral("Copy All Results"), this);
    copyAllButton_->setAutoDefault(false);
    actionRow->addWidget(copyAllButton_);
    actionRow->addStretch(1);
    layout_->addLayout(actionRow);
    connect(copyAllButton_, &QPushButton::clicked, &state_, &ContentState::copyAllResults);
}

// Shows the state now and again at each of its changes.
void ContentView::followState() {
    connect(&state_, &ContentState::switchesChanged, this, [this] {
        showSwitches();
        showResults();
    });
    connect(&state_, &ContentState::runChanged, this, [this] {
        showRun();
        showResults();
    });
    connect(&state_, &ContentState::rowAdded, this, [this] {
        showRun();
        showResults();
    });
    showSwitches();
    showRun();
    showResults();
}

ContentView::~ContentView() = default;

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    state_.publishSettings();
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
    progressBlock_->setVisible(state_.progressVisible());
    // A progress bar counts in int; very long runs are shown in proportion.
    const int64_t limit = std::numeric_limits<int>::max();
    const int64_t scale = run.totalCount > limit ? run.totalCount / limit + 1 : 1;
    progressBar_->setRange(0, static_cast<int>(std::max<int64_t>(1, run.totalCount / scale)));
    progressBar_->setValue(static_cast<int>(std::min(run.processedCount, run.totalCount) / scale));
    statusLabel_->setText(state_.statusText());
}

void ContentView::showResults() {
    const bool visible = state_.hasVisibleResults();
    if (visible == resultList_->isHidden() || visible == resultsHeading_->isHidden()) {
        resultsHeading_->setVisible(visible);
        resultList_->setVisible(visible);
        bottomSpace_->changeSize(0, 0, QSizePolicy::Minimum, visible ? QSizePolicy::Fixed : QSizePolicy::Expanding);
        layout_->invalidate();
    }
    copyAllButton_->setEnabled(visible);
}

}  // namespace corvane
