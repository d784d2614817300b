// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpacerItem;
class QVBoxLayout;

namespace corvane {

class ContentState;
class DropZone;
class ResultListModel;
class ResultListView;

// The content of a main window, top to bottom: the title with the Dry Run badge, the two switches, the
// drop zone, the progress of the run, the results and the "Copy All Results" row. It draws the
// window's state and forwards the user's actions to it; it keeps no state of its own. It publishes the
// switches each time it comes on screen.
class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(ContentState& state, QWidget* parent = nullptr);
    ~ContentView() override;

    // The parts, for tests and for the window around it.
    QLabel* badge() const { return badge_; }
    QCheckBox* dryRunBox() const { return dryRunBox_; }
    QCheckBox* silentSkipBox() const { return silentSkipBox_; }
    DropZone* dropZone() const { return dropZone_; }
    QWidget* progressBlock() const { return progressBlock_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QLabel* resultsHeading() const { return resultsHeading_; }
    ResultListView* resultList() const { return resultList_; }
    ResultListModel& resultModel() const { return *model_; }
    QPushButton* copyAllButton() const { return copyAllButton_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The parts, each added below the one before.
    void addTitle();
    void addSwitches();
    void addDropZone();
    void addProgress();
    void addResults();
    void addActions();
    void followState();

    void showSwitches();
    void showRun();
    void showResults();

    ContentState& state_;
    ResultListModel* model_ = nullptr;
    QVBoxLayout* layout_ = nullptr;
    QLabel* badge_ = nullptr;
    QCheckBox* dryRunBox_ = nullptr;
    QCheckBox* silentSkipBox_ = nullptr;
    DropZone* dropZone_ = nullptr;
    QWidget* progressBlock_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* resultsHeading_ = nullptr;
    ResultListView* resultList_ = nullptr;
    QPushButton* copyAllButton_ = nullptr;
    QSpacerItem* bottomSpace_ = nullptr;
};

}  // namespace corvane
