// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/ResultModel.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

class ContentState;

// The listed rows of one window's results as a list model, kept in step with the window's state: a
// new row is inserted at the end when it is listed, Silently Ignore Skipped and the outcome filter
// refilter the list, and Dry Run rewords it. Rows appear in the order the results arrive.
//
// While results arrive quickly, new rows reach the view together, at most every `insertInterval`
// milliseconds (the first at once): a list view lays itself out anew on every insertion, so inserting
// a run of 10,000 rows one by one would cost time in the square of the rows. Every pending row is in
// by the time the run ends and before the list is refiltered or reworded.
class ResultListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ResultTextRole = Qt::UserRole + 1,  // resultText of the row (QString, may span several lines)
        CaseRole,                           // the outcome's alternative index (int)
        RowTextRole,                        // "NAME: TEXT", what Copy puts on the clipboard
        FolderRole,                         // where the file lies, as the line under its name shows it
        FilePathRole,                       // the file's whole path, for display (QString)
    };

    static constexpr int insertInterval = 50;

    explicit ResultListModel(const ContentState& state, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The row shown at `row`, or nullptr outside the list.
    const ProcessingResultDetail* detail(int row) const;
    // How many lines the row's result text has (at least 1); the same in both Dry Run wordings.
    int lineCount(int row) const;

    // Inserts the rows that are waiting for the next insertion.
    void flush();

private:
    void rebuild();
    void reset();
    void appendRow(int resultIndex);

    const ContentState& state_;
    std::vector<int> rows_;                // indices into the run's results, in list order
    std::vector<int> pending_;             // visible rows not yet inserted
    QTimer* insertTimer_ = nullptr;
    QElapsedTimer sinceInsert_;
    std::vector<uint16_t> lineCounts_;     // per result index
    bool filtering_ = false;               // Silently Ignore Skipped, as the rows were filtered
    std::optional<size_t> outcomeFilter_;  // the outcome filter, as the rows were filtered
};

}  // namespace corvane
