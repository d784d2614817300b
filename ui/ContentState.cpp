// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ContentState.h"

#include "engine/MediaFileProcessor.h"
#include "engine/ResultReport.h"
#include "engine/RunUndo.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include <numeric>
#include <utility>

namespace corvane {

Executor eventLoopExecutor(QObject* context) {
    return [context](std::function<void()> work) { QTimer::singleShot(0, context, std::move(work)); };
}

namespace {

// The bytes of a local file URL's path, decoded from the percent-encoded form rather than through
// QString, so names in any encoding survive. Absent for other URLs and other hosts.
std::optional<std::filesystem::path> localPath(const QUrl& url) {
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0) return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) return std::nullopt;
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty() || !bytes.startsWith('/')) return std::nullopt;
    return std::filesystem::path(bytes.toStdString());
}

// Which outcomes Silently Ignore Skipped hides, by alternative index.
template <size_t... Index>
std::array<bool, sizeof...(Index)> skippableCases(std::index_sequence<Index...>) {
    return {isSilentlySkippable(ProcessingResult(std::in_place_index<Index>))...};
}

bool isSkippableCase(size_t caseIndex) {
    static const auto cases = skippableCases(std::make_index_sequence<std::variant_size_v<ProcessingResult>>());
    return cases[caseIndex];
}

// An outcome as the counts name it: the beginning of its rows' texts, in lower case.
QString outcomeWords(size_t caseIndex, bool dryRun) {
    static constexpr std::array<const char*, std::variant_size_v<ProcessingResult>> words = {
        "updated", "within tolerance", "file not found", "unsupported", "skipped (missing)",
        "skipped (non-Apple)", "skipped (GPS differs)", "failed", "already correct"};
    if (caseIndex == 0 && dryRun) return QStringLiteral("would update");
    return QString::fromLatin1(words[caseIndex]);
}

// A path's bytes for display; names that are not UTF-8 show replacement characters.
QString displayed(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::vector<std::filesystem::path> droppedFileURLs(const QMimeData& mime) {
    std::vector<std::filesystem::path> paths;
    for (const QUrl& url : mime.urls())
        if (auto path = localPath(url)) paths.push_back(std::move(*path));
    return paths;
}

bool carriesFileURLs(const QMimeData& mime) {
    for (const QUrl& url : mime.urls())
        if (localPath(url)) return true;
    return false;
}

ContentState::ContentState(WindowEngine engine, QObject* parent) : ContentState(engine, eventLoopExecutor(this), parent) {}

ContentState::ContentState(WindowEngine engine, Executor executor, QObject* parent)
    : QObject(parent), engine_(engine) {
    driver_ = std::make_unique<RunDriver>(
        engine_.fileSystem, [this](const std::filesystem::path& file) { return processFile(file); }, std::move(executor),
        static_cast<RunObserver*>(this));
    // A journal that fails during a run ends it: no sidecar is written without its record.
    driver_->stopWhen([this] { return stopRequested_ || (journal_ && journal_->failure()); });
}

ContentState::~ContentState() = default;

FileOutcome ContentState::processFile(const std::filesystem::path& file) {
    FileSystem& fileSystem = journaled_ ? static_cast<FileSystem&>(*journaled_) : engine_.fileSystem;
    const EngineServices services{fileSystem, engine_.images, engine_.access, engineSettings_};
    return MediaFileProcessor(services).process(file);
}

bool ContentState::prepareJournal(RunDescription description, bool writes) {
    if (!engine_.journals) return true;
    journal_ = engine_.journals->prepare(std::move(description));
    if (writes) {
        if (Status opened = journal_->open(); !opened) {
            journal_.reset();
            emit notice(QStringLiteral("Nothing written: the undo journal cannot be written (%1)").arg(QString::fromStdString(opened.error().message)));
            return false;
        }
    }
    journaled_.emplace(engine_.fileSystem, *journal_);
    return true;
}

void ContentState::finishJournal() {
    if (!journal_) return;
    journal_->finish();
    journaled_.reset();
    journal_.reset();
    emit undoableRunChanged();
}

std::optional<RunInfo> ContentState::lastRun() const {
    if (!engine_.journals) return std::nullopt;
    auto run = engine_.journals->lastRun();
    return run ? std::move(run).value() : std::nullopt;
}

bool ContentState::startUndo(const RunInfo& run) {
    if (isProcessing() || !engine_.journals) return false;
    const auto refuse = [this](const QString& why) {
        emit notice(why);
        return false;
    };
    const auto current = engine_.journals->find(run.name);
    if (!current || !current.value()) return refuse(QStringLiteral("The run's journal is gone: it cannot be undone"));
    RunInfo found = *current.value();
    if (found.inProgress) return refuse(QStringLiteral("The run is still in progress"));
    const QString damage = QStringLiteral("The journal of run %1 is damaged").arg(QString::fromStdString(run.name));
    // A journal that cannot be read says nothing of what its run replaced: nothing is undone.
    if (found.unreadable) return refuse(damage + QStringLiteral("; nothing restored"));
    auto records = engine_.journals->records(found);
    if (!records) return refuse(QStringLiteral("The run cannot be undone: ") + QString::fromStdString(records.error().message));
    // What can be read is restored; the sidecars of the records that are lost stay as the run left them.
    if (found.damaged)
        emit notice(found.lost == 0 ? damage
                                    : damage + (found.lost == 1 ? QStringLiteral(": 1 record could not be read (its sidecar is not restored)")
                                                                : QStringLiteral(": %1 records could not be read (their sidecars are not restored)").arg(found.lost)));
    if (!prepareJournal(RunDescription{RunDescription::Kind::undo, run.name, run.description.items}, true)) return false;
    stopRequested_ = false;
    const bool filtered = outcomeFilter_.has_value();
    outcomeFilter_.reset();
    droppedFolders_.clear();
    if (filtered) emit filterChanged();
    FileSystem& fileSystem = journaled_ ? static_cast<FileSystem&>(*journaled_) : engine_.fileSystem;
    UndoPlan plan = planUndo(fileSystem, std::move(records).value(), false);
    if (driver_->startRun(plan.sidecars, std::move(plan.undo))) return true;
    finishJournal();
    return false;
}

template <typename Value>
void ContentState::setSwitch(Value& field, Value value) {
    if (field == value) return;
    field = value;
    publishSettings();
    emit switchesChanged();
}

void ContentState::setDryRun(bool on) { setSwitch(switches_.dryRun, on); }

void ContentState::setAlwaysOverwrite(bool on) { setSwitch(switches_.alwaysOverwrite, on); }

void ContentState::setAppleOnly(bool on) { setSwitch(switches_.appleOnly, on); }

void ContentState::setSidecarName(SidecarName name) { setSwitch(switches_.sidecarName, name); }

void ContentState::setCoordinateForm(CoordinateForm form) { setSwitch(switches_.coordinateForm, form); }

void ContentState::setSilentlyIgnoreSkipped(bool on) {
    if (switches_.silentlyIgnoreSkipped == on) return;
    switches_.silentlyIgnoreSkipped = on;
    // A chosen outcome that the switch now hides is let go of, so that the list never stands empty.
    const bool letGo = outcomeFilter_ && !canFilterBy(*outcomeFilter_);
    if (letGo) outcomeFilter_.reset();
    publishSettings();
    emit switchesChanged();
    if (letGo) emit filterChanged();
}

void ContentState::publishSettings() {
    RunSettings::shared().publish(switches_);
    engineSettings_.publish(switches_);
}

bool ContentState::handleDrop(const QMimeData& mime) {
    if (isProcessing()) return false;
    return handleChosen(droppedFileURLs(mime));
}

QString ContentState::dropRefusal(bool copyOffered) const {
    if (isProcessing()) return QStringLiteral("A run is in progress");
    if (!copyOffered) return QStringLiteral("Drops are copied, never moved: drop without Shift");
    return {};
}

void ContentState::refuseDrop(const QString& reason) { emit notice(reason); }

bool ContentState::handleChosen(const std::vector<std::filesystem::path>& items) {
    if (isProcessing()) return false;
    startRun(items);
    return true;
}

bool ContentState::startRun(const std::vector<std::filesystem::path>& items) {
    if (isProcessing()) return false;
    RunDescription description;
    for (const auto& item : items) description.items.push_back(standardizedPath(item).string());
    if (!prepareJournal(std::move(description), !switches_.dryRun)) return false;
    stopRequested_ = false;
    const bool filtered = outcomeFilter_.has_value();
    outcomeFilter_.reset();
    droppedFolders_.clear();
    for (const auto& item : items)
        if (engine_.fileSystem.presence(item).isDirectory) droppedFolders_.push_back(withoutTrailingSlashes(item.string()));
    if (filtered) emit filterChanged();
    if (driver_->startRun(items)) return true;
    finishJournal();
    return false;
}

const RunProgress& ContentState::progress() const { return driver_->progress(); }

QString ContentState::statusText() const {
    const RunProgress& run = progress();
    QString text = QStringLiteral("Processed %1/%2").arg(run.processedCount).arg(run.totalCount);
    if (!run.currentFile.empty()) text += QStringLiteral(" • ") + QString::fromStdString(run.currentFile);
    return text;
}

std::vector<const ProcessingResultDetail*> ContentState::visibleResults() const {
    return corvane::visibleResults(progress().results, switches_.silentlyIgnoreSkipped);
}

int64_t ContentState::skippableCount() const {
    int64_t count = 0;
    for (size_t caseIndex = 0; caseIndex < counts_.size(); ++caseIndex)
        if (isSkippableCase(caseIndex)) count += counts_[caseIndex];
    return count;
}

int64_t ContentState::visibleCount() const {
    const auto total = static_cast<int64_t>(progress().results.size());
    return switches_.silentlyIgnoreSkipped ? total - skippableCount() : total;
}

bool ContentState::isVisible(const ProcessingResultDetail& row) const {
    return !switches_.silentlyIgnoreSkipped || !isSilentlySkippable(row.result);
}

QString ContentState::outcomeCountText(size_t caseIndex) const {
    // Updated rows are counted in the mode they ran in, as their texts are worded.
    return QString::number(counts_[caseIndex]) + QLatin1Char(' ') + outcomeWords(caseIndex, writtenRows_ == 0);
}

bool ContentState::countsVisible() const { return !isProcessing() && !progress().results.empty(); }

QString ContentState::runSummary() const {
    const int64_t total = std::accumulate(counts_.begin(), counts_.end(), int64_t(0));
    QStringList counts;
    for (size_t caseIndex = 0; caseIndex < counts_.size(); ++caseIndex)
        if (counts_[caseIndex] > 0) counts.append(outcomeCountText(caseIndex));
    QString summary = QStringLiteral("Finished: %1 %2: ").arg(total).arg(total == 1 ? "file" : "files") +
                      counts.join(QStringLiteral(", "));
    if (writtenRows_ == 0) summary += QStringLiteral(" (Dry Run, nothing written)");
    return summary;
}

bool ContentState::canFilterBy(size_t caseIndex) const {
    return caseIndex < counts_.size() && (!switches_.silentlyIgnoreSkipped || !isSkippableCase(caseIndex));
}

void ContentState::toggleOutcomeFilter(size_t caseIndex) {
    if (outcomeFilter_ == caseIndex) {
        outcomeFilter_.reset();
    } else if (canFilterBy(caseIndex)) {
        outcomeFilter_ = caseIndex;
    } else {
        return;
    }
    emit filterChanged();
}

bool ContentState::isListed(const ProcessingResultDetail& row) const {
    return isVisible(row) && (!outcomeFilter_ || row.result.index() == *outcomeFilter_);
}

QString ContentState::folderText(const ProcessingResultDetail& row) const {
    const std::string file = row.fileURL.string();
    // The innermost dropped folder that holds the file: drops of a folder and of one inside it both count.
    const std::string* from = nullptr;
    for (const std::string& folder : droppedFolders_) {
        const bool inside = file.size() > folder.size() + 1 && file.compare(0, folder.size(), folder) == 0 &&
                            (folder == "/" || file[folder.size()] == '/');
        if (inside && (!from || folder.size() > from->size())) from = &folder;
    }
    const std::string parent = row.fileURL.parent_path().string();
    if (from) {
        const bool root = *from == "/";
        // The file's folder below the dropped one; empty for a file right inside it.
        std::string below = parent.size() > from->size() ? parent.substr(from->size()) : std::string();
        while (!below.empty() && below.front() == '/') below.erase(0, 1);
        if (root) return displayed("/" + below);
        const std::string name = lastPathComponent(*from);
        return displayed(below.empty() ? name : name + "/" + below);
    }
    const std::string home = withoutTrailingSlashes(QFile::encodeName(QDir::homePath()).toStdString());
    if (home != "/" && (parent == home || parent.starts_with(home + "/")))
        return QStringLiteral("~") + displayed(parent.substr(home.size()));
    return displayed(parent);
}

QString ContentState::resultText(const ProcessingResultDetail& row) const {
    return QString::fromStdString(corvane::resultText(row.result, row.dryRun));
}

QString ContentState::rowText(const ProcessingResultDetail& row) const {
    return QString::fromStdString(corvane::rowText(row));
}

QString ContentState::reportText(std::chrono::system_clock::time_point now) const {
    return QString::fromStdString(corvane::reportText(progress().results, switches_, now));
}

void ContentState::copyResult(const ProcessingResultDetail& row) {
    QGuiApplication::clipboard()->setText(rowText(row));
    emit notice(QStringLiteral("Copied 1 row"));
}

void ContentState::copyAllResults() {
    // The button is disabled without visible rows; a report of nothing is never made.
    if (!hasVisibleResults()) return;
    QGuiApplication::clipboard()->setText(reportText());
    emit notice(QStringLiteral("Copied the report"));
}

void ContentState::runStateChanged(const RunProgress& run) {
    if (run.results.empty()) {
        counts_ = {};
        writtenRows_ = 0;
    }
    const bool ended = wasProcessing_ && !run.isProcessing;
    wasProcessing_ = run.isProcessing;
    if (ended) finishJournal();
    emit runChanged();
    if (ended) emit notice(runSummary());
}

void ContentState::resultRecorded(const RunProgress& run) {
    ++counts_[run.results.back().result.index()];
    if (!run.results.back().dryRun) ++writtenRows_;
    emit rowAdded(static_cast<int>(run.results.size() - 1));
}

}  // namespace corvane
