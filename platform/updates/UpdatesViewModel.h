// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/updates/Appcast.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <string>

namespace corvane {

// What a test may change about the service; the program uses the defaults.
struct UpdatesOptions {
    std::chrono::milliseconds backgroundCheckDelay{3000};
    std::string currentVersion;  // empty: the application's version
};

// The program's update service, one per process. Creating it starts the updater: automatic checks
// are switched on, a check interval below 60 s is raised to one day, one "[Sparkle] auto=..." line
// goes to the diagnostics sink, and a background check runs 3 s later. Preferences live in the user's
// settings (QSettings, organisation and application "Corvane"). Lives on the UI thread. It shows
// nothing itself: the window presents the answers of the updater's checks.
class UpdatesViewModel : public QObject {
    Q_OBJECT
public:
    explicit UpdatesViewModel(QObject* parent = nullptr);
    explicit UpdatesViewModel(const UpdatesOptions& options, QObject* parent = nullptr);
    ~UpdatesViewModel() override;

    // Starts a user-initiated check. Returns at once; the answer arrives as the updater's
    // checkFinished signal.
    void checkForUpdates();

    // The updater behind the service (its preferences and its checks), for tests.
    AppcastUpdater& updater();

    // The start-up line this object built. Only the first view model of the process prints it, so the
    // line appears once however many windows the shell opens.
    const std::string& statusLine() const { return statusLine_; }

private:
    std::unique_ptr<AppcastUpdater> updater_;
    std::string statusLine_;
};

}  // namespace corvane
