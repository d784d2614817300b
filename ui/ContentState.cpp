// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ContentState.h"

#include "engine/MediaFileProcessor.h"
#include "engine/ResultReport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

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
    driver_->stopWhen([this] { return stopRequested_; });
    engineSettings_.dryRun = dryRun_;
    engineSettings_.alwaysOverwrite = alwaysOverwrite_;
    engineSettings_.appleOnly = appleOnly_;
    engineSettings_.silentlyIgnoreSkipped = silentlyIgnoreSkipped_;
}

ContentState::~ContentState() = default;

FileOutcome ContentState::processFile(const std::filesystem::path& file) {
    const EngineServices services{engine_.fileSystem, engine_.images, engine_.access, engineSettings_};
    return MediaFileProcessor(services).process(file);
}

void ContentState::setDryRun(bool on) {
    if (dryRun_ == on) return;
    dryRun_ = on;
    publishSettings();
    emit switchesChanged();
}

void ContentState::setSilentlyIgnoreSkipped(bool on) {
    if (silentlyIgnoreSkipped_ == on) return;
    silentlyIgnoreSkipped_ = on;
    publishSettings();
    emit switchesChanged();
}

void ContentState::publishSettings() {
    for (RunSettings* settings : {&RunSettings::shared(), &engineSettings_}) {
        settings->dryRun = dryRun_;
        settings->alwaysOverwrite = alwaysOverwrite_;
        settings->appleOnly = appleOnly_;
        settings->silentlyIgnoreSkipped = silentlyIgnoreSkipped_;
    }
}

bool ContentState::handleDrop(const QMimeData& mime) {
    if (isProcessing()) return false;
    return handleChosen(droppedFileURLs(mime));
}

bool ContentState::handleChosen(const std::vector<std::filesystem::path>& items) {
    if (isProcessing()) return false;
    startRun(items);
    return true;
}

bool ContentState::startRun(const std::vector<std::filesystem::path>& items) {
    if (isProcessing()) return false;
    skippableCount_ = 0;
    stopRequested_ = false;
    return driver_->startRun(items);
}

const RunProgress& ContentState::progress() const { return driver_->progress(); }

QString ContentState::statusText() const {
    const RunProgress& run = progress();
    QString text = QStringLiteral("Processed %1/%2").arg(run.processedCount).arg(run.totalCount);
    if (!run.currentFile.empty()) text += QStringLiteral(" • ") + QString::fromStdString(run.currentFile);
    return text;
}

std::vector<const ProcessingResultDetail*> ContentState::visibleResults() const {
    return corvane::visibleResults(progress().results, silentlyIgnoreSkipped_);
}

int64_t ContentState::visibleCount() const {
    const auto total = static_cast<int64_t>(progress().results.size());
    return silentlyIgnoreSkipped_ ? total - skippableCount_ : total;
}

bool ContentState::isVisible(const ProcessingResultDetail& row) const {
    return !silentlyIgnoreSkipped_ || !isSilentlySkippable(row.result);
}

QString ContentState::resultText(const ProcessingResultDetail& row) const {
    return QString::fromStdString(corvane::resultText(row.result, row.dryRun));
}

QString ContentState::rowText(const ProcessingResultDetail& row) const {
    return QString::fromStdString(corvane::rowText(row));
}

QString ContentState::reportText(std::chrono::system_clock::time_point now) const {
    const ReportSwitches switches{dryRun_, alwaysOverwrite_, appleOnly_, silentlyIgnoreSkipped_};
    return QString::fromStdString(corvane::reportText(progress().results, switches, now));
}

void ContentState::copyResult(const ProcessingResultDetail& row) const {
    QGuiApplication::clipboard()->setText(rowText(row));
}

void ContentState::copyAllResults() const {
    // The button is disabled without visible rows; a report of nothing is never made.
    if (!hasVisibleResults()) return;
    QGuiApplication::clipboard()->setText(reportText());
}

void ContentState::runStateChanged(const RunProgress&) {
    if (progress().results.empty()) skippableCount_ = 0;
    emit runChanged();
}

void ContentState::resultRecorded(const RunProgress& run) {
    if (isSilentlySkippable(run.results.back().result)) ++skippableCount_;
    emit rowAdded(static_cast<int>(run.results.size() - 1));
}

}  // namespace corvane
