// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultListModel.h"

#include "engine/FileSystem.h"
#include "engine/ResultReport.h"
#include "ui/ContentState.h"

#include <QFile>

#include <algorithm>

namespace corvane {
namespace {

uint16_t countLines(const ProcessingResult& result) {
    const std::string text = resultText(result, true);
    const auto breaks = std::count(text.begin(), text.end(), '\n');
    return static_cast<uint16_t>(std::min<std::ptrdiff_t>(breaks + 1, UINT16_MAX));
}

}  // namespace

ResultListModel::ResultListModel(const ContentState& state, QObject* parent)
    : QAbstractListModel(parent), state_(state), filtering_(state.silentlyIgnoreSkipped()) {
    insertTimer_ = new QTimer(this);
    insertTimer_->setSingleShot(true);
    connect(insertTimer_, &QTimer::timeout, this, &ResultListModel::flush);
    rebuild();
    connect(&state, &ContentState::rowAdded, this, [this](int index) {
        // A row this model has not seen in order means the run was replaced under it.
        if (index != static_cast<int>(lineCounts_.size())) return reset();
        appendRow(index);
    });
    connect(&state, &ContentState::runChanged, this, [this] {
        if (state_.progress().results.size() != lineCounts_.size()) return reset();
        flush();
    });
    connect(&state, &ContentState::filterChanged, this, [this] {
        if (state_.outcomeFilter() != outcomeFilter_) reset();
    });
    connect(&state, &ContentState::switchesChanged, this, [this] {
        // Each row keeps the wording of its own mode: only the filters can change what is shown.
        if (state_.silentlyIgnoreSkipped() != filtering_ || state_.outcomeFilter() != outcomeFilter_) reset();
        flush();
    });
}

void ResultListModel::reset() {
    beginResetModel();
    rebuild();
    endResetModel();
}

void ResultListModel::rebuild() {
    pending_.clear();
    insertTimer_->stop();
    sinceInsert_.invalidate();  // the next row goes in at once
    filtering_ = state_.silentlyIgnoreSkipped();
    outcomeFilter_ = state_.outcomeFilter();
    const auto& results = state_.progress().results;
    lineCounts_.clear();
    lineCounts_.reserve(results.size());
    for (const auto& row : results) lineCounts_.push_back(countLines(row.result));
    rows_.clear();
    for (size_t i = 0; i < results.size(); ++i)
        if (state_.isListed(results[i])) rows_.push_back(static_cast<int>(i));
}

void ResultListModel::appendRow(int resultIndex) {
    const ProcessingResultDetail& row = state_.progress().results[static_cast<size_t>(resultIndex)];
    lineCounts_.push_back(countLines(row.result));
    if (!state_.isListed(row)) return;
    pending_.push_back(resultIndex);
    if (insertTimer_->isActive()) return;
    const qint64 waited = sinceInsert_.isValid() ? sinceInsert_.elapsed() : insertInterval;
    if (waited >= insertInterval)
        flush();
    else
        insertTimer_->start(static_cast<int>(insertInterval - waited));
}

void ResultListModel::flush() {
    insertTimer_->stop();
    if (pending_.empty()) return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(pending_.size()) - 1);
    rows_.insert(rows_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    endInsertRows();
    sinceInsert_.restart();
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

const ProcessingResultDetail* ResultListModel::detail(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    const auto& results = state_.progress().results;
    const auto resultIndex = static_cast<size_t>(rows_[static_cast<size_t>(row)]);
    return resultIndex < results.size() ? &results[resultIndex] : nullptr;
}

int ResultListModel::lineCount(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return 1;
    const auto resultIndex = static_cast<size_t>(rows_[static_cast<size_t>(row)]);
    return resultIndex < lineCounts_.size() ? lineCounts_[resultIndex] : 1;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    const ProcessingResultDetail* row = index.isValid() ? detail(index.row()) : nullptr;
    if (!row) return {};
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(lastPathComponent(row->fileURL));
        case ResultTextRole: return state_.resultText(*row);
        case CaseRole: return static_cast<int>(row->result.index());
        case RowTextRole: return state_.rowText(*row);
        case FolderRole: return state_.folderText(*row);
        case FilePathRole: return QFile::decodeName(QByteArray::fromStdString(row->fileURL.string()));
        // The whole text and where the file lies: many photos share a name.
        case Qt::ToolTipRole: return state_.rowText(*row) + QLatin1Char('\n') + data(index, FilePathRole).toString();
        case Qt::AccessibleTextRole:
            return QString::fromStdString(lastPathComponent(row->fileURL)) + QStringLiteral(", ") + state_.resultText(*row);
        default: return {};
    }
}

}  // namespace corvane
