// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Executor.h"
#include "engine/FileSystem.h"
#include "engine/ImageMetadata.h"
#include "engine/JournaledFileSystem.h"
#include "engine/ResultModel.h"
#include "engine/RunDriver.h"
#include "engine/RunSettings.h"
#include "engine/SidecarAccess.h"
#include "platform/system/RunJournalFile.h"
#include "platform/system/RunJournalStore.h"

#include <QObject>
#include <QString>

#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

class QMimeData;

namespace corvane {

// What one window's runs work with. The referenced objects must outlive the window's state. Without
// `journals`, runs keep no undo journal and none can be undone.
struct WindowEngine {
    FileSystem& fileSystem;
    const ImageMetadataSource& images;
    SidecarAccessProvider& access;
    RunJournalStore* journals = nullptr;
};

// Posts each piece of work to the Qt event loop of the context's thread, so the loop handles input and
// painting between two pieces. Work still queued when the context is destroyed is dropped; the
// executor itself must not be called after that (the window's run driver dies with the window).
Executor eventLoopExecutor(QObject* context);

// The file locations a drop carries, in the order of its URL list. Only local file URLs count; other
// URLs are left out without a message. Names are turned into bytes the way the file system spells
// them, so a name that is not valid UTF-8 still reaches the right file.
std::vector<std::filesystem::path> droppedFileURLs(const QMimeData& mime);

// True when a drag carries at least one local file URL, so the drop zone takes part in it.
bool carriesFileURLs(const QMimeData& mime);

// The state of one main window and everything it does without drawing: its four switches, the run
// it drives, the results, the per-outcome counts and the list's outcome filter, and the texts shown
// for them, the short notices of the status area included. Lives on the UI thread; every signal is
// emitted there. Widgets read from it and forward the user's actions to it.
//
// The switches are published to RunSettings::shared() when the window comes on screen and after every
// change. The window's own runs read the window's own switches, so a second window that publishes
// different switches never changes what a run in this window does (nor whether it writes).
class ContentState : public QObject, private RunObserver {
    Q_OBJECT
public:
    // `executor` runs the batches of a run; by default each batch is posted to the event loop.
    explicit ContentState(WindowEngine engine, QObject* parent = nullptr);
    ContentState(WindowEngine engine, Executor executor, QObject* parent = nullptr);
    ~ContentState() override;

    // The switches, as at every launch until changed: Dry Run on, Silently Ignore Skipped off (the
    // window's checkboxes), Always Overwrite off and Apple-only on (its Run menu's "Always Overwrite"
    // and "Include All Devices"), base sidecar names and decimal coordinates (its Run menu's two
    // choices; the window starts with the sidecar name the user chose last). Each change is published
    // and applies from then on, also mid-run.
    const RunSwitches& switches() const { return switches_; }
    bool dryRun() const { return switches_.dryRun; }
    bool alwaysOverwrite() const { return switches_.alwaysOverwrite; }
    bool appleOnly() const { return switches_.appleOnly; }
    bool silentlyIgnoreSkipped() const { return switches_.silentlyIgnoreSkipped; }
    SidecarName sidecarName() const { return switches_.sidecarName; }
    CoordinateForm coordinateForm() const { return switches_.coordinateForm; }
    void setDryRun(bool on);
    void setAlwaysOverwrite(bool on);
    void setAppleOnly(bool on);
    void setSilentlyIgnoreSkipped(bool on);
    void setSidecarName(SidecarName name);
    void setCoordinateForm(CoordinateForm form);

    // Publishes the window's switches to RunSettings::shared() (and to this window's engine settings).
    void publishSettings();

    // Refuses (false) while a run is in progress; otherwise collects the drop's file URLs, hands them
    // to startRun and accepts (true), even when none of them is a media file.
    bool handleDrop(const QMimeData& mime);
    // Why a drag of files would be refused now, or empty when it would be taken: a run is in progress,
    // or the drag cannot be a copy (files are only ever taken as copies: a source told they were moved
    // may delete them).
    QString dropRefusal(bool copyOffered) const;
    // Says in the status area why a drag is refused.
    void refuseDrop(const QString& reason);
    // The same for files and folders chosen in a file dialog.
    bool handleChosen(const std::vector<std::filesystem::path>& items);

    // Does nothing while a run is in progress (false). Otherwise clears the previous run, expands the
    // items and starts a run when at least one media file is found (true). A run that writes keeps an
    // undo journal from before its first write; when the journal cannot be written, nothing is started
    // and the notice says why (a run that begins as a dry run opens it at its first write, and stops
    // there if it cannot).
    bool startRun(const std::vector<std::filesystem::path>& items);

    // The newest run that replaced sidecars, whichever window or program ran it; absent when there is
    // none, or no journals are kept.
    std::optional<RunInfo> lastRun() const;
    // Undoes the run, as a run of its own whose rows are its sidecars (journaled, so it can be undone in
    // turn); Dry Run does not apply, the user has confirmed. False, with a notice when there is a reason
    // to give, when it cannot start: a run is in progress, the run is still being written, or its journal
    // cannot be read.
    bool startUndo(const RunInfo& run);

    const RunProgress& progress() const;
    bool isProcessing() const { return progress().isProcessing; }
    // A run is in progress and its next file may be written (Dry Run is off).
    bool isWriting() const { return isProcessing() && !switches_.dryRun; }
    // Ends the run in progress once the file being processed has its row, as cleanly as after its last.
    void stopRun() { stopRequested_ = true; }

    // What the window shows.
    bool badgeVisible() const { return switches_.dryRun; }
    bool progressVisible() const { return progress().totalCount >= 1; }
    // "Processed N/M", followed by " • NAME" while a file name is current.
    QString statusText() const;
    // The rows the list shows, in order: every row, or without the silently skippable ones.
    std::vector<const ProcessingResultDetail*> visibleResults() const;
    int64_t visibleCount() const;
    bool hasVisibleResults() const { return visibleCount() > 0; }
    bool isVisible(const ProcessingResultDetail& row) const;

    // How many rows of the current or last run ended in each outcome (by the outcome's alternative
    // index in ProcessingResult), whatever the list shows: the counts corvane-cli closes with.
    int64_t outcomeCount(size_t caseIndex) const { return counts_[caseIndex]; }
    // "3 would update", "1 failed": a count and its outcome as the list words it. Updated rows "would
    // update" while every row of the run ran as a dry run, as their texts say.
    QString outcomeCountText(size_t caseIndex) const;
    // The counts are shown once a run has ended, until the next one starts.
    bool countsVisible() const;
    // "Finished: 7 files: 1 would update, 6 already correct": what the end of a run announces.
    QString runSummary() const;

    // The outcome whose rows alone the list shows; absent, the list shows every visible row. Choosing
    // the chosen outcome again shows all again. The Silently Ignore Skipped filter applies on top: an
    // outcome it hides cannot be chosen while it is on, and turning it on lets go of such a choice.
    std::optional<size_t> outcomeFilter() const { return outcomeFilter_; }
    bool canFilterBy(size_t caseIndex) const;
    void toggleOutcomeFilter(size_t caseIndex);
    // Whether the list shows the row: visible, and of the chosen outcome if one is chosen.
    bool isListed(const ProcessingResultDetail& row) const;

    // Where the row's file lies, for the line under its name: for a file found in a dropped folder, its
    // folder from the dropped one on ("Photos/2024/Trip"); otherwise its whole folder, the home folder
    // written "~".
    QString folderText(const ProcessingResultDetail& row) const;

    // A row's text in the mode its file ran in, whatever Dry Run says now.
    QString resultText(const ProcessingResultDetail& row) const;
    // "NAME: TEXT", as the row's Copy button puts it on the clipboard.
    QString rowText(const ProcessingResultDetail& row) const;
    // The whole report of the visible rows, each in its own mode, under a header with the switches as
    // they are now.
    QString reportText(std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) const;

    // Clipboard actions of the results list; each confirms itself in the status area.
    void copyResult(const ProcessingResultDetail& row);
    void copyAllResults();

signals:
    // A switch changed (the list rewords or refilters itself).
    void switchesChanged();
    // The list's outcome filter changed.
    void filterChanged();
    // A short message for the status area: a confirmation, a refusal, or the summary at a run's end.
    void notice(const QString& text);
    // The run was reset, started or finished.
    void runChanged();
    // A row was appended at `index` of progress().results.
    void rowAdded(int index);
    // A run that may have replaced sidecars ended: the last run to undo may be another one now.
    void undoableRunChanged();

private:
    void runStateChanged(const RunProgress& progress) override;
    void resultRecorded(const RunProgress& progress) override;
    FileOutcome processFile(const std::filesystem::path& file);
    // Makes the journal of a run that may write, and opens it at once when it will write; false when
    // that fails (the notice says why).
    bool prepareJournal(RunDescription description, bool writes);
    void finishJournal();
    template <typename Value>
    void setSwitch(Value& field, Value value);
    int64_t skippableCount() const;

    WindowEngine engine_;
    RunSwitches switches_;
    RunSettings engineSettings_{switches_};  // what this window's runs read
    std::array<int64_t, std::variant_size_v<ProcessingResult>> counts_{};  // rows of this run per outcome
    int64_t writtenRows_ = 0;  // rows of this run that did not run as a dry run
    std::optional<size_t> outcomeFilter_;
    std::vector<std::string> droppedFolders_;  // the folders of this run's drop, without a trailing "/"
    bool wasProcessing_ = false;
    bool stopRequested_ = false;
    std::unique_ptr<RunJournalFile> journal_;  // the run's, while it lasts
    std::optional<JournaledFileSystem> journaled_;
    std::unique_ptr<RunDriver> driver_;
};

}  // namespace corvane
