#pragma once

#include <QObject>

#include <memory>

class QWidget;

namespace corvane {

class AppcastUpdater;

// The program's update service, one per process. Creating it starts the updater: automatic checks
// are switched on, a check interval below 60 s is raised to one day, one "[Sparkle] auto=..." line is
// printed, and a silent background check runs 3 s later. Preferences live in the user's settings
// (QSettings, organisation and application "Corvane"). Lives on the UI thread.
class UpdatesViewModel : public QObject {
    Q_OBJECT
public:
    explicit UpdatesViewModel(QObject* parent = nullptr);
    ~UpdatesViewModel() override;

    // A user-initiated check with dialogs: up to date, a newer version with a link to its download
    // page, or the error. Returns at once; the answer arrives through the dialogs.
    void checkForUpdates();

    // The updater behind the service (its preferences and its checks), for tests.
    AppcastUpdater& updater();

private:
    std::unique_ptr<AppcastUpdater> updater_;
};

}  // namespace corvane
