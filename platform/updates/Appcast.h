// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

namespace corvane {

// One release listed in an appcast: an RSS <item> with the sparkle: namespace's elements.
struct AppcastItem {
    std::string title;
    // The version compared against the running program: <sparkle:version> or the enclosure's
    // sparkle:version attribute; the short version string when neither is given.
    std::string version;
    // The version as shown to people (sparkle:shortVersionString), when the feed gives one.
    std::optional<std::string> shortVersion;
    std::optional<std::string> releaseNotesLink;  // <sparkle:releaseNotesLink>
    std::optional<std::string> link;              // <link>, the release's web page
    std::optional<std::string> enclosureUrl;      // the download itself
    // The enclosure's sparkle:os ("linux", "macos", "windows"); absent for every system.
    std::optional<std::string> operatingSystem;

    // The version text for dialogs: the short version string when present, else the version.
    const std::string& displayVersion() const { return shortVersion ? *shortVersion : version; }

    friend bool operator==(const AppcastItem&, const AppcastItem&) = default;
};

// Reads an RSS appcast. Items without any version are left out; a feed with no usable item parses to
// an empty list. Text that is not well-formed XML, or whose root element is not <rss>, gives an Error
// (domain "Appcast", code 1) whose message names the fault; no input makes it crash or throw.
Expected<std::vector<AppcastItem>> parseAppcast(std::string_view xml);

// Orders two version texts: negative when `a` is older than `b`, zero when they name the same version,
// positive when `a` is newer. Dot-separated components compare numerically ("1.10.0" > "1.9.2"), missing
// trailing components count as 0 ("1.0" == "1.0.0"), and a component with a suffix after its number is a
// pre-release of the plain one ("1.0b2" < "1.0"); suffixes compare with their digit runs as numbers.
int compareVersions(std::string_view a, std::string_view b);

// The item with the highest version (the first of equals), or nothing for an empty list.
std::optional<AppcastItem> newestItem(const std::vector<AppcastItem>& items);

// The updater's four preferences.
struct UpdaterPreferences {
    bool automaticallyChecksForUpdates = true;
    double updateCheckInterval = 86400.0;  // seconds
    std::optional<QDateTime> lastUpdateCheckDate;
    std::optional<QUrl> feedURL;
};

// The updater's start-up line:
// "[Sparkle] auto=true interval=86400.0s last=nil feed=nil", with a present date as
// "Optional(2025-01-31 23:59:59 +0000)" (UTC) and a present feed as "Optional(<absolute URL>)".
std::string updaterStatusLine(const UpdaterPreferences& preferences);

// The answers a check can give.
struct UpToDate {
    std::string currentVersion;
    friend bool operator==(const UpToDate&, const UpToDate&) = default;
};
struct UpdateAvailable {
    std::string currentVersion;
    AppcastItem item;
    // Where the user downloads the release: the item's <link>, else its enclosure. Only http and https
    // addresses are offered, so a feed cannot make the program open local files or other schemes.
    std::optional<QUrl> downloadPage;
    std::optional<QUrl> releaseNotes;  // likewise http/https only
    friend bool operator==(const UpdateAvailable&, const UpdateAvailable&) = default;
};
struct CheckFailed {
    std::string message;
    friend bool operator==(const CheckFailed&, const CheckFailed&) = default;
};
struct NoFeed {
    friend bool operator==(const NoFeed&, const NoFeed&) = default;
};
using UpdateCheckResult = std::variant<UpToDate, UpdateAvailable, CheckFailed, NoFeed>;

// Who started a check: the user sees every answer, a background check stays silent unless it finds
// an update.
enum class CheckKind { userInitiated, background };

// The feed text the updater accepts at most; a larger answer is cut off as an error.
inline constexpr qint64 maximumFeedBytes = 16 * 1024 * 1024;

// Turns a fetched feed into the check's answer, comparing its newest item for this system (no
// sparkle:os, or "linux") with `currentVersion`. Relative links resolve against `feedURL`.
UpdateCheckResult evaluateAppcast(std::string_view xml, const QUrl& feedURL, const std::string& currentVersion);

// A small appcast updater: its preferences live in the user's settings (QSettings, organisation
// and application "Corvane"), and a check fetches the configured RSS appcast (http, https or file;
// 15 s transfer timeout) and compares its newest item with the running version. Checks run
// asynchronously on the thread that owns the object (the UI thread); each one ends in exactly one
// checkFinished signal. The program itself never sets a feed.
class AppcastUpdater : public QObject {
    Q_OBJECT
public:
    // `currentVersion` is the running program's version; empty means the application's version, or the
    // project's version when the application sets none.
    explicit AppcastUpdater(std::string currentVersion = {}, QObject* parent = nullptr);
    ~AppcastUpdater() override;

    const std::string& currentVersion() const { return currentVersion_; }

    // The preferences, read from the settings on every call. A missing or unreadable value reads as
    // its default: automatic checks on, an interval of one day, no last check date, no feed.
    UpdaterPreferences preferences() const;
    bool automaticallyChecksForUpdates() const { return preferences().automaticallyChecksForUpdates; }
    double updateCheckInterval() const { return preferences().updateCheckInterval; }
    std::optional<QDateTime> lastUpdateCheckDate() const { return preferences().lastUpdateCheckDate; }
    std::optional<QUrl> feedURL() const { return preferences().feedURL; }

    void setAutomaticallyChecksForUpdates(bool on);
    void setUpdateCheckInterval(double seconds);
    void setLastUpdateCheckDate(const std::optional<QDateTime>& date);
    // Stores (or with nothing, removes) the feed address. Only users and tests set one.
    void setFeedURL(const std::optional<QUrl>& url);

    // Starts a check and returns at once. Without a feed the answer is NoFeed, delivered from the event
    // loop like every other answer. A check that reached the feed (whatever it found) records the
    // current time as the last check date before its answer is delivered.
    void checkForUpdates(CheckKind kind);

    // Checks under way.
    int pendingChecks() const { return static_cast<int>(pending_.size()); }

signals:
    void checkFinished(corvane::CheckKind kind, const corvane::UpdateCheckResult& result);

private:
    void finish(QNetworkReply* reply, CheckKind kind, const QUrl& feed);

    std::string currentVersion_;
    QNetworkAccessManager* network_;  // owned through the QObject tree
    std::vector<QNetworkReply*> pending_;
};

}  // namespace corvane
