// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

namespace corvane {

// A one-line label that shows as much of its plain text as its width allows, cut short with "…" (at
// the end, or in the middle where the end matters, as for a file name), so that a long text never
// widens the window. Screen readers get the whole text, and so does the tooltip while it is cut short.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    // Whether the text is cut short at the present width.
    bool isElided() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    Qt::TextElideMode mode_;
};

}  // namespace corvane
