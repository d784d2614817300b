// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ResultModel.h"
#include "ui/ContentFit.h"

#include <QWidget>

#include <array>
#include <variant>

class QBoxLayout;
class QCheckBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpacerItem;
class QTimer;
class QToolButton;
class QVBoxLayout;

namespace corvane {

class ContentState;
class DropZone;
class ElidedLabel;
class ResultListModel;
class ResultListView;

// The content of a main window, top to bottom: the title with the Dry Run badge, the two switches, the
// drop zone, the progress of the run (after a run, with a count per outcome beside the status: a click
// on one lists only that outcome's rows), the results and the "Copy All Results" row with the status
// area, where short notices appear (a copy confirmed, a drop refused, the summary at a run's end) and
// are announced to screen readers. It draws the window's state and forwards the user's actions to it;
// it keeps no state of its own. It publishes the switches each time it comes on screen.
//
// It fits small screens: where its room is short, the parts above the list give way first (see
// ContentFit), and its minimum size keeps every part usable down to 360 pixels of width.
class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(ContentState& state, QWidget* parent = nullptr);
    ~ContentView() override;

    QSize minimumSizeHint() const override;

    // The parts, for tests and for the window around it.
    QLabel* badge() const { return badge_; }
    QCheckBox* dryRunBox() const { return dryRunBox_; }
    QCheckBox* silentSkipBox() const { return silentSkipBox_; }
    DropZone* dropZone() const { return dropZone_; }
    QWidget* progressBlock() const { return progressBlock_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QLabel* statusLabel() const;
    // The count button of an outcome (by its alternative index in ProcessingResult).
    QToolButton* countButton(size_t caseIndex) const { return countButtons_[caseIndex]; }
    QLabel* resultsHeading() const { return resultsHeading_; }
    ResultListView* resultList() const { return resultList_; }
    ResultListModel& resultModel() const { return *model_; }
    QPushButton* copyAllButton() const { return copyAllButton_; }
    // The status area's notice; hidden when it has nothing to say.
    QLabel* notice() const;
    // How the content is laid out at its present size.
    const ContentFit& fit() const { return fit_; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The parts, each added below the one before.
    void addHeader();
    void addDropZone();
    void addProgress();
    void addResults();
    void addActions();
    void followState();
    // Works out the colours drawn from the palette (the secondary texts, the badge, the counts).
    void applyPalette();

    void showSwitches();
    void showRun();
    void showCounts();
    void showResults();
    void showNotice(const QString& text);
    // Lays the content out anew for its present size (see ContentFit).
    void refit();
    ContentParts measureParts(int width) const;

    ContentState& state_;
    ResultListModel* model_ = nullptr;
    QVBoxLayout* layout_ = nullptr;
    QBoxLayout* header_ = nullptr;
    QHBoxLayout* titleRow_ = nullptr;
    QHBoxLayout* switchRow_ = nullptr;
    QHBoxLayout* actionRow_ = nullptr;
    QLabel* badge_ = nullptr;
    QCheckBox* dryRunBox_ = nullptr;
    QCheckBox* silentSkipBox_ = nullptr;
    DropZone* dropZone_ = nullptr;
    QWidget* progressBlock_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    ElidedLabel* statusLabel_ = nullptr;
    std::array<QToolButton*, std::variant_size_v<ProcessingResult>> countButtons_{};
    QLabel* resultsHeading_ = nullptr;
    ResultListView* resultList_ = nullptr;
    QPushButton* copyAllButton_ = nullptr;
    ElidedLabel* notice_ = nullptr;
    QTimer* noticeTimer_ = nullptr;
    QSpacerItem* bottomSpace_ = nullptr;
    ContentFit fit_;
    QSize minimum_;  // the smallest size last told to the window
};

}  // namespace corvane
