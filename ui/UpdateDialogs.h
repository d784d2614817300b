// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/updates/Appcast.h"

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>

class QMessageBox;
class QWidget;

namespace corvane {

class UpdatesViewModel;

// Shows the update service's answers. Every dialog belongs to a window: the one that asked for a
// user-initiated check, or for a background check the active window (else `fallbackParent`); so a
// dialog stays above its window and goes with it. One dialog at a time: asking again while one is
// open raises that one instead of opening another. A user-initiated check shows at once that it is
// under way ("Checking for updates…", with a busy bar) until its answer or its timeout replaces it.
// A background check speaks only when it finds an update and no dialog is open. Lives on the UI
// thread; dialogs delete themselves when closed.
class UpdateDialogs : public QObject {
    Q_OBJECT
public:
    // `fallbackParent` names a window for answers whose requester has gone; null shows nothing.
    UpdateDialogs(UpdatesViewModel& updates, std::function<QWidget*()> fallbackParent, QObject* parent = nullptr);
    ~UpdateDialogs() override;

    // The "Check for Updates…" command of `requester`'s window.
    void checkForUpdates(QWidget* requester);

    // The open dialog (progress or answer), else null.
    QDialog* dialog() const { return dialog_.data(); }
    // The open answer, else null.
    QMessageBox* answer() const;

private:
    void present(CheckKind kind, const UpdateCheckResult& result);
    void show(QDialog* dialog);

    UpdatesViewModel& updates_;
    std::function<QWidget*()> fallbackParent_;
    QPointer<QDialog> dialog_;
    QPointer<QWidget> requester_;
    bool userCheckRunning_ = false;
};

}  // namespace corvane
