// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/updates/UpdatesViewModel.h"

#include "engine/Diagnostics.h"

#include <QTimer>

#include <atomic>
#include <cmath>

namespace corvane {
namespace {

constexpr double minimumCheckInterval = 60.0;
constexpr double defaultCheckInterval = 86400.0;

}  // namespace

UpdatesViewModel::UpdatesViewModel(QObject* parent) : UpdatesViewModel(UpdatesOptions{}, parent) {}

UpdatesViewModel::UpdatesViewModel(const UpdatesOptions& options, QObject* parent)
    : QObject(parent), updater_(std::make_unique<AppcastUpdater>(options.currentVersion)) {
    updater_->setAutomaticallyChecksForUpdates(true);
    // NaN is not below the minimum, so an interval that is not a number stays as it is.
    if (updater_->updateCheckInterval() < minimumCheckInterval) updater_->setUpdateCheckInterval(defaultCheckInterval);

    statusLine_ = updaterStatusLine(updater_->preferences());
    static std::atomic<bool> printed{false};
    if (!printed.exchange(true)) Diagnostics::line(statusLine_);

    // The background check runs whether or not the user has checked in the meantime.
    QTimer::singleShot(options.backgroundCheckDelay, this, [this] { updater_->checkForUpdates(CheckKind::background); });
}

UpdatesViewModel::~UpdatesViewModel() = default;

void UpdatesViewModel::checkForUpdates() { updater_->checkForUpdates(CheckKind::userInitiated); }

AppcastUpdater& UpdatesViewModel::updater() { return *updater_; }

}  // namespace corvane
