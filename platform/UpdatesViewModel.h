#pragma once

#include "platform/Appcast.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>
#include <string>

class QMessageBox;
class QWidget;

namespace corvane {

// What a test may change about the service; the program uses the defaults.
struct UpdatesOptions {
    std::chrono::milliseconds backgroundCheckDelay{3000};
    std::string currentVersion;  // empty: the application's version
};

// The program's update service, one per process. Creating it starts the updater: automatic checks
// are switched on, a check interval below 60 s is raised to one day, one "[Sparkle] auto=..." line is
// printed, and a silent background check runs 3 s later. Preferences live in the user's settings
// (QSettings, organisation and application "Corvane"). Lives on the UI thread.
class UpdatesViewModel : public QObject {
    Q_OBJECT
public:
    explicit UpdatesViewModel(QObject* parent = nullptr);
    explicit UpdatesViewModel(const UpdatesOptions& options, QObject* parent = nullptr);
    ~UpdatesViewModel() override;

    // A user-initiated check with dialogs: up to date, a newer version with a link to its download
    // page, or the error. Returns at once; the answer arrives through the dialogs.
    void checkForUpdates();

    // The updater behind the service (its preferences and its checks), for tests.
    AppcastUpdater& updater();

    // The start-up line this object built. Only the first view model of the process prints it, so the
    // line appears once however many windows the shell opens.
    const std::string& statusLine() const { return statusLine_; }

    // The most recent dialog while it is open, else null. Dialogs are modeless to the event loop
    // (opened, not executed) and delete themselves when closed.
    QMessageBox* dialog() const;

private:
    // Turns a check's answer into a dialog: every answer for a user-initiated check, only a found
    // update for a background one.
    void present(CheckKind kind, const UpdateCheckResult& result);
    void showDialog(QMessageBox* box);

    std::unique_ptr<AppcastUpdater> updater_;
    std::string statusLine_;
    QPointer<QMessageBox> dialog_;
};

}  // namespace corvane
