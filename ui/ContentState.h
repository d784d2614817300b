// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Executor.h"
#include "engine/FileSystem.h"
#include "engine/ImageMetadata.h"
#include "engine/ResultModel.h"
#include "engine/RunDriver.h"
#include "engine/RunSettings.h"
#include "engine/SidecarAccess.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

class QMimeData;

namespace corvane {

// What one window's runs work with. The referenced objects must outlive the window's state.
struct WindowEngine {
    FileSystem& fileSystem;
    const ImageMetadataSource& images;
    SidecarAccessProvider& access;
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
// it drives, the results and the texts shown for them. Lives on the UI thread; every signal is
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

    // The four switches. The window offers controls only for Dry Run and Silently Ignore Skipped.
    bool dryRun() const { return dryRun_; }
    bool alwaysOverwrite() const { return alwaysOverwrite_; }
    bool appleOnly() const { return appleOnly_; }
    bool silentlyIgnoreSkipped() const { return silentlyIgnoreSkipped_; }
    void setDryRun(bool on);
    void setSilentlyIgnoreSkipped(bool on);

    // Copies all four switches into RunSettings::shared() (and into this window's engine settings).
    void publishSettings();

    // Refuses (false) while a run is in progress; otherwise collects the drop's file URLs, hands them
    // to startRun and accepts (true), even when none of them is a media file.
    bool handleDrop(const QMimeData& mime);
    // The same for files and folders chosen in a file dialog.
    bool handleChosen(const std::vector<std::filesystem::path>& items);

    // Does nothing while a run is in progress (false). Otherwise clears the previous run, expands the
    // items and starts a run when at least one media file is found (true).
    bool startRun(const std::vector<std::filesystem::path>& items);

    const RunProgress& progress() const;
    bool isProcessing() const { return progress().isProcessing; }
    // A run is in progress and its next file may be written (Dry Run is off).
    bool isWriting() const { return isProcessing() && !dryRun_; }
    // Ends the run in progress once the file being processed has its row, as cleanly as after its last.
    void stopRun() { stopRequested_ = true; }

    // What the window shows.
    bool badgeVisible() const { return dryRun_; }
    bool progressVisible() const { return progress().totalCount >= 1; }
    // "Processed N/M", followed by " • NAME" while a file name is current.
    QString statusText() const;
    // The rows the list shows, in order: every row, or without the silently skippable ones.
    std::vector<const ProcessingResultDetail*> visibleResults() const;
    int64_t visibleCount() const;
    bool hasVisibleResults() const { return visibleCount() > 0; }
    bool isVisible(const ProcessingResultDetail& row) const;

    // A row's text in the mode its file ran in, whatever Dry Run says now.
    QString resultText(const ProcessingResultDetail& row) const;
    // "NAME: TEXT", as the row's Copy button puts it on the clipboard.
    QString rowText(const ProcessingResultDetail& row) const;
    // The whole report of the visible rows, each in its own mode, under a header with the switches as
    // they are now.
    QString reportText(std::chrono::system_clock::time_point now = std::chrono::system_clock::now()) const;

    // Clipboard actions of the results list.
    void copyResult(const ProcessingResultDetail& row) const;
    void copyAllResults() const;

signals:
    // Dry Run or Silently Ignore Skipped changed (the list rewords or refilters itself).
    void switchesChanged();
    // The run was reset, started or finished.
    void runChanged();
    // A row was appended at `index` of progress().results.
    void rowAdded(int index);

private:
    void runStateChanged(const RunProgress& progress) override;
    void resultRecorded(const RunProgress& progress) override;
    FileOutcome processFile(const std::filesystem::path& file);

    WindowEngine engine_;
    RunSettings engineSettings_;  // what this window's runs read
    bool dryRun_ = true;
    bool alwaysOverwrite_ = false;
    bool appleOnly_ = true;
    bool silentlyIgnoreSkipped_ = false;
    int64_t skippableCount_ = 0;  // rows of this run that Silently Ignore Skipped hides
    bool stopRequested_ = false;
    std::unique_ptr<RunDriver> driver_;
};

}  // namespace corvane
