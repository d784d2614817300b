// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/updates/Appcast.h"

#include "engine/DateText.h"
#include "engine/Diagnostics.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <algorithm>
#include <cctype>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0.0.0"
#endif

namespace corvane {
namespace {

const QString& sparkleNamespace() {
    static const QString uri = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
    return uri;
}
constexpr int transferTimeoutMs = 15000;

// The preference keys are the customary names of appcast updaters (SU...), so the settings file reads
// as any appcast feed's publisher expects.
constexpr auto automaticChecksKey = "SUEnableAutomaticChecks";
constexpr auto intervalKey = "SUScheduledCheckInterval";
constexpr auto lastCheckKey = "SULastCheckTime";
constexpr auto feedKey = "SUFeedURL";

QSettings userSettings() { return QSettings(QStringLiteral("Corvane"), QStringLiteral("Corvane")); }

std::string trimmed(const QString& text) { return text.trimmed().toStdString(); }

std::optional<std::string> nonEmpty(std::string text) {
    if (text.empty()) return std::nullopt;
    return text;
}

Error appcastError(std::string message) { return Error{"Appcast", 1, std::move(message)}; }

// Reads one <item> up to its end tag; the reader stands on the item's start tag.
AppcastItem readItem(QXmlStreamReader& reader) {
    AppcastItem item;
    std::string elementVersion, elementShortVersion, enclosureVersion, enclosureShortVersion;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        const bool sparkle = reader.namespaceUri() == sparkleNamespace();
        const bool plain = reader.namespaceUri().isEmpty();
        if (plain && name == u"title") {
            item.title = trimmed(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (plain && name == u"link") {
            item.link = nonEmpty(trimmed(reader.readElementText(QXmlStreamReader::IncludeChildElements)));
        } else if (plain && name == u"enclosure") {
            const auto attributes = reader.attributes();
            item.enclosureUrl = nonEmpty(trimmed(attributes.value(QLatin1String("url")).toString()));
            item.operatingSystem = nonEmpty(trimmed(attributes.value(sparkleNamespace(), QLatin1String("os")).toString()));
            enclosureVersion = trimmed(attributes.value(sparkleNamespace(), QLatin1String("version")).toString());
            enclosureShortVersion = trimmed(attributes.value(sparkleNamespace(), QLatin1String("shortVersionString")).toString());
            reader.skipCurrentElement();
        } else if (sparkle && name == u"version") {
            elementVersion = trimmed(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (sparkle && name == u"shortVersionString") {
            elementShortVersion = trimmed(reader.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (sparkle && name == u"releaseNotesLink") {
            item.releaseNotesLink = nonEmpty(trimmed(reader.readElementText(QXmlStreamReader::IncludeChildElements)));
        } else {
            reader.skipCurrentElement();
        }
    }
    // An element in the item wins over the enclosure's attribute, as appcast feeds publish them.
    item.shortVersion = nonEmpty(!elementShortVersion.empty() ? elementShortVersion : enclosureShortVersion);
    item.version = !elementVersion.empty() ? elementVersion : enclosureVersion;
    if (item.version.empty() && item.shortVersion) item.version = *item.shortVersion;
    return item;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view digitRun(std::string_view text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
    return text.substr(start, pos - start);
}

// Compares two runs of digits by value, however long they are.
int compareNumbers(std::string_view a, std::string_view b) {
    while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
    while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int order = a.compare(b);
    return (order > 0) - (order < 0);
}

// Orders pre-release suffixes such as "b2", "rc10" or "-beta": digit runs by value, other characters
// by their code, a longer text after an equal start last.
int compareSuffixes(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const int order = compareNumbers(digitRun(a, i), digitRun(b, j));
            if (order != 0) return order;
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size(), bLeft = j < b.size();
    return static_cast<int>(aLeft) - static_cast<int>(bLeft);
}

int compareComponents(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    const std::string_view numberA = digitRun(a, i), numberB = digitRun(b, j);
    const std::string_view suffixA = a.substr(i), suffixB = b.substr(j);
    // A component without a number ("beta" in "2.0.beta") comes before any numbered one.
    if (numberA.empty() != numberB.empty()) return numberA.empty() ? -1 : 1;
    if (!numberA.empty()) {
        const int order = compareNumbers(numberA, numberB);
        if (order != 0) return order;
    }
    if (suffixA.empty() != suffixB.empty()) return suffixA.empty() ? 1 : -1;
    return compareSuffixes(suffixA, suffixB);
}

std::vector<std::string_view> versionComponents(std::string_view version) {
    while (!version.empty() && std::isspace(static_cast<unsigned char>(version.front()))) version.remove_prefix(1);
    while (!version.empty() && std::isspace(static_cast<unsigned char>(version.back()))) version.remove_suffix(1);
    if (version.size() > 1 && (version[0] == 'v' || version[0] == 'V') && isDigit(version[1])) version.remove_prefix(1);
    std::vector<std::string_view> components;
    size_t start = 0;
    while (true) {
        const size_t dot = version.find('.', start);
        components.push_back(version.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return components;
}

// Only web addresses are handed to the browser: a feed must not make the program open a local file or
// start another application through its scheme handler.
std::optional<QUrl> webLink(const std::optional<std::string>& text, const QUrl& base) {
    if (!text) return std::nullopt;
    const QUrl url = base.resolved(QUrl(QString::fromStdString(*text), QUrl::StrictMode));
    if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
    if (url.scheme() != u"http" && url.scheme() != u"https") return std::nullopt;
    return url;
}

bool fetchable(const QUrl& url) {
    if (!url.isValid()) return false;
    const QString scheme = url.scheme();
    return scheme == u"http" || scheme == u"https" || scheme == u"file";
}

}  // namespace

Expected<std::vector<AppcastItem>> parseAppcast(std::string_view xml) {
    if (QByteArrayView(xml.data(), static_cast<qsizetype>(xml.size())).trimmed().isEmpty())
        return appcastError("The update feed is empty.");
    QXmlStreamReader reader(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())));
    if (!reader.readNextStartElement()) {
        return appcastError("The update feed is not valid XML: " + reader.errorString().toStdString());
    }
    if (reader.name() != u"rss" || !reader.namespaceUri().isEmpty())
        return appcastError("The update feed is not an RSS appcast.");

    std::vector<AppcastItem> items;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"item" && reader.namespaceUri().isEmpty()) {
            AppcastItem item = readItem(reader);
            if (!item.version.empty()) items.push_back(std::move(item));
        }
    }
    if (reader.hasError()) {
        return appcastError("The update feed is not valid XML: " + reader.errorString().toStdString() + " (line " +
                            std::to_string(reader.lineNumber()) + ")");
    }
    return items;
}

int compareVersions(std::string_view a, std::string_view b) {
    std::vector<std::string_view> left = versionComponents(a), right = versionComponents(b);
    const size_t count = std::max(left.size(), right.size());
    left.resize(count, "0");
    right.resize(count, "0");
    for (size_t index = 0; index < count; ++index) {
        const int order = compareComponents(left[index], right[index]);
        if (order != 0) return order;
    }
    return 0;
}

std::optional<AppcastItem> newestItem(const std::vector<AppcastItem>& items) {
    const AppcastItem* newest = nullptr;
    for (const AppcastItem& item : items)
        if (!newest || compareVersions(item.version, newest->version) > 0) newest = &item;
    if (!newest) return std::nullopt;
    return *newest;
}

std::string updaterStatusLine(const UpdaterPreferences& preferences) {
    std::optional<std::string> last;
    if (preferences.lastUpdateCheckDate) {
        // Whole seconds, counted down as the date's own seconds field is, also before 1970.
        const auto moment = std::chrono::floor<std::chrono::seconds>(
            std::chrono::milliseconds(preferences.lastUpdateCheckDate->toMSecsSinceEpoch()));
        last = "Optional(" + formatUtcDate(std::chrono::system_clock::time_point(moment)) + ")";
    }
    std::optional<std::string> feed;
    if (preferences.feedURL) feed = "Optional(" + preferences.feedURL->toString(QUrl::FullyEncoded).toStdString() + ")";

    std::string line = "[Sparkle] auto=";
    line += formatBool(preferences.automaticallyChecksForUpdates);
    line += " interval=" + formatDouble(preferences.updateCheckInterval) + "s";
    line += " last=";
    line += orNil(last);
    line += " feed=";
    line += orNil(feed);
    return line;
}

UpdateCheckResult evaluateAppcast(std::string_view xml, const QUrl& feedURL, const std::string& currentVersion) {
    auto items = parseAppcast(xml);
    if (!items) return CheckFailed{items.error().message};
    // A feed may list builds for several systems; those for another one are not offered here.
    std::vector<AppcastItem> forThisSystem;
    for (AppcastItem& item : items.value())
        if (!item.operatingSystem || *item.operatingSystem == "linux") forThisSystem.push_back(std::move(item));
    const std::optional<AppcastItem> newest = newestItem(forThisSystem);
    if (!newest || compareVersions(newest->version, currentVersion) <= 0) return UpToDate{currentVersion};
    const std::optional<QUrl> page = webLink(newest->link, feedURL);
    return UpdateAvailable{currentVersion, *newest, page ? page : webLink(newest->enclosureUrl, feedURL),
                           webLink(newest->releaseNotesLink, feedURL)};
}

AppcastUpdater::AppcastUpdater(std::string currentVersion, QObject* parent)
    : QObject(parent), currentVersion_(std::move(currentVersion)), network_(new QNetworkAccessManager(this)) {
    if (currentVersion_.empty()) currentVersion_ = QCoreApplication::applicationVersion().toStdString();
    if (currentVersion_.empty()) currentVersion_ = CORVANE_VERSION;
}

AppcastUpdater::~AppcastUpdater() {
    // Replies still under way are aborted with the network manager; none of them may answer into a
    // half-destroyed updater.
    for (QNetworkReply* reply : pending_) disconnect(reply, nullptr, this, nullptr);
}

UpdaterPreferences AppcastUpdater::preferences() const {
    QSettings settings = userSettings();
    UpdaterPreferences preferences;
    if (const QVariant value = settings.value(automaticChecksKey); value.isValid())
        preferences.automaticallyChecksForUpdates = value.toBool();
    if (const QVariant value = settings.value(intervalKey); value.isValid()) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        if (ok) preferences.updateCheckInterval = seconds;
    }
    if (const QDateTime date = settings.value(lastCheckKey).toDateTime(); date.isValid())
        preferences.lastUpdateCheckDate = date.toTimeZone(QTimeZone::utc());
    if (const QString text = settings.value(feedKey).toString().trimmed(); !text.isEmpty())
        preferences.feedURL = QUrl(text);
    return preferences;
}

void AppcastUpdater::setAutomaticallyChecksForUpdates(bool on) { userSettings().setValue(automaticChecksKey, on); }

void AppcastUpdater::setUpdateCheckInterval(double seconds) {
    // Written as the shortest round-trip text so the file stays readable and "nan" survives.
    userSettings().setValue(intervalKey, QString::fromStdString(formatDouble(seconds)));
}

void AppcastUpdater::setLastUpdateCheckDate(const std::optional<QDateTime>& date) {
    QSettings settings = userSettings();
    if (date)
        settings.setValue(lastCheckKey, date->toTimeZone(QTimeZone::utc()).toString(Qt::ISODateWithMs));
    else
        settings.remove(lastCheckKey);
}

void AppcastUpdater::setFeedURL(const std::optional<QUrl>& url) {
    QSettings settings = userSettings();
    if (url)
        settings.setValue(feedKey, url->toString(QUrl::FullyEncoded));
    else
        settings.remove(feedKey);
}

void AppcastUpdater::checkForUpdates(CheckKind kind) {
    const std::optional<QUrl> feed = feedURL();
    auto answerLater = [this, kind](UpdateCheckResult result) {
        QMetaObject::invokeMethod(
            this, [this, kind, result = std::move(result)] { emit checkFinished(kind, result); }, Qt::QueuedConnection);
    };
    if (!feed) return answerLater(NoFeed{});
    if (!fetchable(*feed)) {
        return answerLater(CheckFailed{"The update feed address is not supported: " +
                                       feed->toString(QUrl::FullyEncoded).toStdString()});
    }

    QNetworkRequest request(*feed);
    request.setTransferTimeout(transferTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromStdString("Corvane/" + currentVersion_));
    QNetworkReply* reply = network_->get(request);
    pending_.push_back(reply);
    // A feed is a few kilobytes; anything past the limit is cut off rather than held in memory.
    const auto cutOffBeyond = [reply](qint64 bytes) {
        if (bytes <= maximumFeedBytes || reply->property("corvaneTooLarge").toBool()) return;
        reply->setProperty("corvaneTooLarge", true);
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, cutOffBeyond] {
        cutOffBeyond(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [cutOffBeyond](qint64 received, qint64 total) { cutOffBeyond(std::max(received, total)); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, kind, feed = *feed] { finish(reply, kind, feed); });
}

void AppcastUpdater::finish(QNetworkReply* reply, CheckKind kind, const QUrl& feed) {
    const auto found = std::find(pending_.begin(), pending_.end(), reply);
    if (found == pending_.end()) return;  // already answered
    pending_.erase(found);
    reply->deleteLater();

    UpdateCheckResult result;
    if (reply->property("corvaneTooLarge").toBool()) {
        result = CheckFailed{"The update feed is larger than 16 MiB."};
    } else if (reply->error() == QNetworkReply::OperationCanceledError || reply->error() == QNetworkReply::TimeoutError) {
        result = CheckFailed{"The update feed did not answer within 15 seconds."};
    } else if (reply->error() != QNetworkReply::NoError) {
        result = CheckFailed{"The update feed could not be loaded: " + reply->errorString().toStdString()};
    } else {
        const QByteArray body = reply->readAll();
        result = evaluateAppcast(std::string_view(body.constData(), static_cast<size_t>(body.size())), feed,
                                 currentVersion_);
    }
    setLastUpdateCheckDate(QDateTime::currentDateTimeUtc());
    emit checkFinished(kind, result);
}

}  // namespace corvane
