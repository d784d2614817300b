// The update service: its preferences and start-up line, the appcast parser and version order, and
// checks against feeds served on 127.0.0.1 by the test itself (no outside network), with their
// answers shown over the window that asked.
#include "tests/support/DiagnosticsCapture.h"
#include "platform/Appcast.h"
#include "platform/UpdatesViewModel.h"
#include "ui/UpdateDialogs.h"
#include "tests/support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

using namespace corvane;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::string)

// Readable failure messages for the values these tests compare.
namespace QTest {
template <>
char* toString(const std::string& text) {
    return qstrdup(text.c_str());
}
template <>
char* toString(const corvane::UpdateCheckResult& result) {
    std::string text = std::visit(
        [](const auto& answer) -> std::string {
            using Answer = std::decay_t<decltype(answer)>;
            if constexpr (std::is_same_v<Answer, corvane::UpToDate>) return "UpToDate(" + answer.currentVersion + ")";
            if constexpr (std::is_same_v<Answer, corvane::UpdateAvailable>) return "UpdateAvailable(" + answer.item.version + ")";
            if constexpr (std::is_same_v<Answer, corvane::CheckFailed>) return "CheckFailed(" + answer.message + ")";
            if constexpr (std::is_same_v<Answer, corvane::NoFeed>) return "NoFeed";
        },
        result);
    return qstrdup(text.c_str());
}
}  // namespace QTest

namespace {

// Answers every HTTP request on 127.0.0.1 with one fixed response, then closes the connection.
class FeedServer : public QObject {
    Q_OBJECT
public:
    explicit FeedServer(QByteArray body, QByteArray status = "200 OK", qint64 declaredLength = -1)
        : body_(std::move(body)), status_(std::move(status)), declaredLength_(declaredLength) {
        connect(&server_, &QTcpServer::newConnection, this, &FeedServer::accept);
        server_.listen(QHostAddress::LocalHost);
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server_.serverPort())); }
    int requests() const { return requests_; }

private:
    void accept() {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                QByteArray& request = pending_[socket];
                request += socket->readAll();
                if (!request.contains("\r\n\r\n")) return;
                pending_.remove(socket);
                ++requests_;
                const qint64 length = declaredLength_ >= 0 ? declaredLength_ : body_.size();
                socket->write("HTTP/1.1 " + status_ + "\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                              QByteArray::number(length) + "\r\nConnection: close\r\n\r\n" + body_);
                // A response that claims more than it sends stays open, as a slow server would.
                if (declaredLength_ < 0) socket->disconnectFromHost();
            });
        }
    }

    QTcpServer server_;
    QByteArray body_, status_;
    qint64 declaredLength_;
    int requests_ = 0;
    QHash<QTcpSocket*, QByteArray> pending_;
};

// A port on 127.0.0.1 that nobody listens on: connections are refused at once.
QUrl closedPortUrl() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(port));
}

QByteArray appcast(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
           "<channel><title>Corvane</title>\n" +
           items + "</channel></rss>\n";
}

QByteArray release(const QByteArray& version) {
    return "<item><title>Corvane " + version + "</title><sparkle:version>" + version +
           "</sparkle:version><sparkle:releaseNotesLink>https://example.org/notes/" + version +
           ".html</sparkle:releaseNotesLink><link>https://example.org/download/" + version +
           "</link><enclosure url=\"https://example.org/Corvane-" + version +
           ".tar.gz\" length=\"1\" type=\"application/octet-stream\"/></item>\n";
}

// Collects the answers of an updater's checks.
struct Answers {
    std::vector<std::pair<CheckKind, UpdateCheckResult>> list;
    explicit Answers(AppcastUpdater& updater) {
        QObject::connect(&updater, &AppcastUpdater::checkFinished, &updater,
                         [this](CheckKind kind, const UpdateCheckResult& result) { list.emplace_back(kind, result); });
    }
    size_t size() const { return list.size(); }
    const UpdateCheckResult& last() const { return list.back().second; }
};

// Receives the URLs the program hands to the desktop for opening, instead of a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

// A window that asks for checks, and the dialogs that answer over it.
struct Asker {
    QWidget window;
    UpdateDialogs dialogs;
    explicit Asker(UpdatesViewModel& model) : dialogs(model, [this] { return &window; }) { window.show(); }
    void check() { dialogs.checkForUpdates(&window); }
    QMessageBox* answer() const { return dialogs.answer(); }
};

UpdatesOptions quietOptions(std::string version = "1.0.0") {
    // The background check is pushed far away unless a test is about it.
    return UpdatesOptions{1h, std::move(version)};
}

}  // namespace

class UpdatesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() {
        settingsDir_ = std::make_unique<test::TempDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settingsDir_->path()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(settingsDir_->path()));
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher_, "open");
        catcher_.urls.clear();
    }

    void cleanup() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget)) box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        settingsDir_.reset();
    }

    // Must stay the first test that creates a view model: the line is printed once per process.
    void printsStatusLineOnceAtCreation() {
        AppcastUpdater(std::string("1.0.0")).setUpdateCheckInterval(30);
        DiagnosticsCapture capture;
        UpdatesViewModel first(quietOptions());
        UpdatesViewModel second(quietOptions());
        // Through the program's one diagnostics sink, like every other diagnostic line.
        QCOMPARE(capture.text(), std::string("[Sparkle] auto=true interval=86400.0s last=nil feed=nil\n"));
        QCOMPARE(second.statusLine(), first.statusLine());
    }

    void defaultConstructionUsesTheUsersSettings() {
        UpdatesViewModel model;
        QCOMPARE(model.statusLine(), std::string("[Sparkle] auto=true interval=86400.0s last=nil feed=nil"));
        QSettings settings(QStringLiteral("Corvane"), QStringLiteral("Corvane"));
        QVERIFY(QFileInfo(settings.fileName()).absolutePath().startsWith(QString::fromStdString(settingsDir_->path())));
        QCOMPARE(settings.value("SUEnableAutomaticChecks").toBool(), true);
    }

    void checkIntervalRule_data() {
        QTest::addColumn<QVariant>("stored");  // invalid: nothing stored
        QTest::addColumn<std::string>("printed");
        QTest::newRow("30 s is raised to a day") << QVariant(30.0) << std::string("86400.0");
        QTest::newRow("just under a minute is raised") << QVariant(59.999) << std::string("86400.0");
        QTest::newRow("negative is raised") << QVariant(-5.0) << std::string("86400.0");
        QTest::newRow("60 s stays") << QVariant(60.0) << std::string("60.0");
        QTest::newRow("3600 s stays") << QVariant(3600.0) << std::string("3600.0");
        QTest::newRow("fractional stays") << QVariant(3600.5) << std::string("3600.5");
        QTest::newRow("not a number stays") << QVariant(std::numeric_limits<double>::quiet_NaN()) << std::string("nan");
        QTest::newRow("nothing stored reads as a day") << QVariant() << std::string("86400.0");
        // Written by hand or by another tool as an integer or as text.
        QTest::newRow("integer 30 is raised") << QVariant(30) << std::string("86400.0");
        QTest::newRow("text 7200 stays") << QVariant(QStringLiteral("7200")) << std::string("7200.0");
        QTest::newRow("unreadable text reads as a day") << QVariant(QStringLiteral("soon")) << std::string("86400.0");
    }

    void checkIntervalRule() {
        QFETCH(QVariant, stored);
        QFETCH(std::string, printed);
        if (stored.typeId() == QMetaType::Double) {
            AppcastUpdater(std::string("1.0.0")).setUpdateCheckInterval(stored.toDouble());
        } else if (stored.isValid()) {
            QSettings(QStringLiteral("Corvane"), QStringLiteral("Corvane")).setValue("SUScheduledCheckInterval", stored);
        }
        UpdatesViewModel model(quietOptions());
        QCOMPARE(model.statusLine(), "[Sparkle] auto=true interval=" + printed + "s last=nil feed=nil");
        // The raised value is stored, so a fresh reader sees it too.
        const double expected = printed == "nan" ? std::nan("") : std::stod(printed);
        const double reread = AppcastUpdater(std::string("1.0.0")).updateCheckInterval();
        QVERIFY(std::isnan(expected) ? std::isnan(reread) : reread == expected);
    }

    void automaticChecksAreSwitchedBackOn() {
        AppcastUpdater(std::string("1.0.0")).setAutomaticallyChecksForUpdates(false);
        QCOMPARE(AppcastUpdater(std::string("1.0.0")).automaticallyChecksForUpdates(), false);
        UpdatesViewModel model(quietOptions());
        QVERIFY(model.statusLine().starts_with("[Sparkle] auto=true "));
        QCOMPARE(model.updater().automaticallyChecksForUpdates(), true);
    }

    void statusLineReadsStoredDateAndFeed() {
        AppcastUpdater setup(std::string("1.0.0"));
        setup.setUpdateCheckInterval(3600);
        setup.setLastUpdateCheckDate(QDateTime(QDate(2025, 1, 31), QTime(23, 59, 59), QTimeZone::utc()));
        setup.setFeedURL(QUrl(QStringLiteral("https://example.org/appcast.xml")));
        UpdatesViewModel model(quietOptions());
        QCOMPARE(model.statusLine(), std::string("[Sparkle] auto=true interval=3600.0s last=Optional(2025-01-31 23:59:59 "
                                                 "+0000) feed=Optional(https://example.org/appcast.xml)"));
    }

    void statusLineText_data() {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<double>("interval");
        QTest::addColumn<QDateTime>("last");  // invalid: none
        QTest::addColumn<QString>("feed");    // empty: none
        QTest::addColumn<std::string>("line");
        QTest::newRow("first start") << true << 86400.0 << QDateTime() << QString()
                                     << std::string("[Sparkle] auto=true interval=86400.0s last=nil feed=nil");
        QTest::newRow("switched off, a minute")
            << false << 60.0 << QDateTime() << QString() << std::string("[Sparkle] auto=false interval=60.0s last=nil feed=nil");
        QTest::newRow("a date in another zone prints in UTC")
            << true << 86400.0 << QDateTime(QDate(2025, 2, 1), QTime(1, 59, 59), QTimeZone(2 * 3600)) << QString()
            << std::string("[Sparkle] auto=true interval=86400.0s last=Optional(2025-01-31 23:59:59 +0000) feed=nil");
        QTest::newRow("feed as its encoded absolute string")
            << true << 0.1 << QDateTime() << QStringLiteral("https://example.org/app cast.xml?x=1")
            << std::string("[Sparkle] auto=true interval=0.1s last=nil feed=Optional(https://example.org/app%20cast.xml?x=1)");
    }

    void statusLineText() {
        QFETCH(bool, automatic);
        QFETCH(double, interval);
        QFETCH(QDateTime, last);
        QFETCH(QString, feed);
        QFETCH(std::string, line);
        UpdaterPreferences preferences{automatic, interval, std::nullopt, std::nullopt};
        if (last.isValid()) preferences.lastUpdateCheckDate = last;
        if (!feed.isEmpty()) preferences.feedURL = QUrl(feed);
        QCOMPARE(updaterStatusLine(preferences), line);
    }

    void versionOrder_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("components compare as numbers") << "1.10.0" << "1.9.2" << 1;
        QTest::newRow("missing components are zero") << "1.0" << "1.0.0" << 0;
        QTest::newRow("a patch release is newer") << "1.0.1" << "1.0" << 1;
        QTest::newRow("single numbers") << "2" << "10" << -1;
        QTest::newRow("leading zeros do not count") << "01.002" << "1.2" << 0;
        QTest::newRow("longer than 64 bits") << "123456789012345678901234.1" << "123456789012345678901233.9" << 1;
        QTest::newRow("pre-release before its release") << "1.0b2" << "1.0" << -1;
        QTest::newRow("pre-release numbers as numbers") << "1.0b10" << "1.0b9" << 1;
        QTest::newRow("dash pre-release") << "2.0-rc1" << "2.0" << -1;
        QTest::newRow("word component before a number") << "1.0.beta" << "1.0" << -1;
        QTest::newRow("v prefix and blanks ignored") << " v1.2 " << "1.2" << 0;
        QTest::newRow("equal") << "3.4.5" << "3.4.5" << 0;
    }

    void versionOrder() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(compareVersions(a.toStdString(), b.toStdString()), order);
        QCOMPARE(compareVersions(b.toStdString(), a.toStdString()), -order);
    }

    void parsesSparkleItems() {
        const QByteArray xml = appcast(
            // Versions given as elements, with release notes and a page.
            release("1.2.0") +
            // Versions given on the enclosure only.
            "<item><title>Old</title><enclosure url=\"https://example.org/old.tar.gz\" sparkle:version=\"0.9\" "
            "sparkle:shortVersionString=\"0.9 beta\"/></item>"
            // The element wins over the enclosure's attribute.
            "<item><sparkle:version>2.0</sparkle:version><enclosure url=\"u\" sparkle:version=\"1.9\"/></item>"
            // Only a short version: it serves as the version.
            "<item><sparkle:shortVersionString>1.5</sparkle:shortVersionString></item>"
            // No version at all: left out.
            "<item><title>Nothing</title><link>https://example.org</link></item>"
            // Unknown elements, nested markup and CDATA are skipped or read as text.
            "<item><description><![CDATA[<p>Notes</p>]]></description><title> <![CDATA[Spaced]]> </title>"
            "<sparkle:version> 3.0 </sparkle:version><foo><bar/></foo></item>");
        const auto parsed = parseAppcast(xml.toStdString());
        QVERIFY(parsed.ok());
        const auto& items = parsed.value();
        QCOMPARE(items.size(), size_t(5));
        QCOMPARE(items[0], (AppcastItem{"Corvane 1.2.0", "1.2.0", std::nullopt, "https://example.org/notes/1.2.0.html",
                                        "https://example.org/download/1.2.0", "https://example.org/Corvane-1.2.0.tar.gz",
                                        std::nullopt}));
        QCOMPARE(items[1], (AppcastItem{"Old", "0.9", "0.9 beta", std::nullopt, std::nullopt, "https://example.org/old.tar.gz",
                                        std::nullopt}));
        QCOMPARE(items[1].displayVersion(), std::string("0.9 beta"));
        QCOMPARE(items[2].version, std::string("2.0"));
        QCOMPARE(items[3].version, std::string("1.5"));
        QCOMPARE(items[4].title, std::string("Spaced"));
        QCOMPARE(items[4].version, std::string("3.0"));
        QCOMPARE(newestItem(items)->version, std::string("3.0"));
    }

    void emptyChannelHasNoItems() {
        const auto parsed = parseAppcast(appcast("").toStdString());
        QVERIFY(parsed.ok());
        QVERIFY(parsed.value().empty());
        QVERIFY(!newestItem(parsed.value()));
    }

    void rejectsMalformedFeeds_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QByteArray() << "The update feed is empty.";
        QTest::newRow("unclosed item") << appcast("<item><sparkle:version>2</sparkle:version>").replace("</channel></rss>", "")
                                       << "not valid XML";
        QTest::newRow("mismatched tags") << appcast("<item><title>x</link></item>") << "not valid XML";
        QTest::newRow("undeclared sparkle prefix")
            << QByteArray("<rss><channel><item><sparkle:version>2</sparkle:version></item></channel></rss>") << "not valid XML";
        QTest::newRow("an HTML page") << QByteArray("<html><body>Not found</body></html>") << "not an RSS appcast";
        QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe<rss", 8) << "not valid XML";
        QTest::newRow("entity expansion bomb")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
                          "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
                          "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>"
                          "<rss><channel><item><title>&e;&e;&e;&e;&e;&e;&e;&e;</title></item></channel></rss>")
            << "not valid XML";
    }

    void rejectsMalformedFeeds() {
        QFETCH(QByteArray, xml);
        QFETCH(QString, message);
        const auto parsed = parseAppcast(std::string_view(xml.constData(), static_cast<size_t>(xml.size())));
        QVERIFY(!parsed.ok());
        QCOMPARE(parsed.error().domain, std::string("Appcast"));
        QVERIFY2(QString::fromStdString(parsed.error().message).contains(message), parsed.error().message.c_str());
    }

    void offersOnlyWebLinksResolvedAgainstTheFeed() {
        const QUrl feed(QStringLiteral("https://example.org/updates/appcast.xml"));
        const auto evaluate = [&](const QByteArray& item) {
            return std::get<UpdateAvailable>(evaluateAppcast(appcast(item).toStdString(), feed, "1.0"));
        };
        const auto relative = evaluate(
            "<item><sparkle:version>2</sparkle:version><link>download.html</link>"
            "<sparkle:releaseNotesLink>/notes/2.html</sparkle:releaseNotesLink></item>");
        QCOMPARE(relative.downloadPage, QUrl(QStringLiteral("https://example.org/updates/download.html")));
        QCOMPARE(relative.releaseNotes, QUrl(QStringLiteral("https://example.org/notes/2.html")));

        const auto enclosureOnly = evaluate("<item><enclosure url=\"http://example.org/c.tar.gz\" sparkle:version=\"2\"/></item>");
        QCOMPARE(enclosureOnly.downloadPage, QUrl(QStringLiteral("http://example.org/c.tar.gz")));

        // A feed must not get the desktop to open local files or run other scheme handlers.
        const auto hostile = evaluate(
            "<item><sparkle:version>2</sparkle:version><link>file:///usr/bin/xterm</link>"
            "<sparkle:releaseNotesLink>javascript:alert(1)</sparkle:releaseNotesLink>"
            "<enclosure url=\"smb://host/share/x\"/></item>");
        QVERIFY(!hostile.downloadPage);
        QVERIFY(!hostile.releaseNotes);
    }

    void offersOnlyBuildsForThisSystem() {
        const QByteArray feed = appcast(
            "<item><enclosure url=\"https://example.org/mac.dmg\" sparkle:version=\"3.0\" sparkle:os=\"macos\"/></item>"
            "<item><enclosure url=\"https://example.org/win.exe\" sparkle:version=\"2.5\" sparkle:os=\"windows\"/></item>"
            "<item><enclosure url=\"https://example.org/linux.tar.gz\" sparkle:version=\"2.0\" sparkle:os=\"linux\"/></item>"
            "<item><enclosure url=\"https://example.org/any.tar.gz\" sparkle:version=\"1.5\"/></item>");
        const auto result = evaluateAppcast(feed.toStdString(), QUrl(), "1.0");
        QCOMPARE(std::get<UpdateAvailable>(result).item.version, std::string("2.0"));
        QCOMPARE(evaluateAppcast(feed.toStdString(), QUrl(), "2.0"), UpdateCheckResult(UpToDate{"2.0"}));
    }

    void userCheckFindsNewerVersion() {
        FeedServer server(appcast(release("1.1.0") + release("1.10.0") + release("1.9.2")));
        AppcastUpdater(std::string("1.0.0")).setFeedURL(server.url());
        UpdatesViewModel model(quietOptions("1.0.0"));
        Answers answers(model.updater());
        Asker asker(model);
        asker.check();
        // The check shows at once that it is under way, over the window that asked.
        auto* progress = qobject_cast<QProgressDialog*>(asker.dialogs.dialog());
        QVERIFY(progress && progress->isVisible());
        QCOMPARE(progress->labelText(), QStringLiteral("Checking for updates\u2026"));
        QCOMPARE(progress->parentWidget(), &asker.window);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 5000);

        const auto& update = std::get<UpdateAvailable>(answers.last());
        QCOMPARE(update.item.version, std::string("1.10.0"));
        QVERIFY(model.updater().lastUpdateCheckDate().has_value());
        QMessageBox* box = asker.answer();
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->parentWidget(), &asker.window);
        QCOMPARE(box->text(), QStringLiteral("A new version of Corvane is available!"));
        QVERIFY(box->informativeText().contains("Corvane 1.10.0 is now available. You have 1.0.0."));
        QVERIFY(box->informativeText().contains("https://example.org/notes/1.10.0.html"));

        QAbstractButton* download = nullptr;
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "Open Download Page") download = button;
        QVERIFY(download);
        download->click();
        QCOMPARE(catcher_.urls, QList<QUrl>{QUrl(QStringLiteral("https://example.org/download/1.10.0"))});
        QTRY_VERIFY_WITH_TIMEOUT(!asker.answer(), 2000);  // closed and deleted
    }

    void userCheckUpToDate() {
        FeedServer server(appcast(release("0.9") + release("1.0")));
        AppcastUpdater(std::string("1.0.0")).setFeedURL(server.url());
        UpdatesViewModel model(quietOptions("1.0.0"));
        Answers answers(model.updater());
        Asker asker(model);
        asker.check();
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 5000);
        QCOMPARE(answers.last(), UpdateCheckResult(UpToDate{"1.0.0"}));
        QVERIFY(asker.answer());
        QCOMPARE(asker.answer()->text(), QStringLiteral("You're up to date"));
        QCOMPARE(asker.answer()->informativeText(), QStringLiteral("Corvane 1.0.0 is currently the newest version available."));
    }

    void userCheckReportsFailures_data() {
        QTest::addColumn<int>("server");  // 0: closed port, 1: 404, 2: malformed body, 3: oversized
        QTest::addColumn<QString>("message");
        QTest::newRow("unreachable feed") << 0 << "The update feed could not be loaded: Connection refused";
        QTest::newRow("missing feed") << 1 << "The update feed could not be loaded:";
        QTest::newRow("malformed feed") << 2 << "The update feed is not valid XML";
        QTest::newRow("oversized feed") << 3 << "The update feed is larger than 16 MiB.";
    }

    void userCheckReportsFailures() {
        QFETCH(int, server);
        QFETCH(QString, message);
        std::unique_ptr<FeedServer> feed;
        if (server == 1) feed = std::make_unique<FeedServer>("gone", "404 Not Found");
        if (server == 2) feed = std::make_unique<FeedServer>(appcast("<item>"));
        if (server == 3) feed = std::make_unique<FeedServer>(appcast(""), "200 OK", 100 * 1024 * 1024);
        AppcastUpdater(std::string("1.0.0")).setFeedURL(feed ? feed->url() : closedPortUrl());

        UpdatesViewModel model(quietOptions());
        Answers answers(model.updater());
        Asker asker(model);
        asker.check();
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 5000);
        const auto* failed = std::get_if<CheckFailed>(&answers.last());
        QVERIFY(failed);
        QVERIFY2(QString::fromStdString(failed->message).startsWith(message), failed->message.c_str());
        QVERIFY(asker.answer());
        QCOMPARE(asker.answer()->icon(), QMessageBox::Warning);
        QCOMPARE(asker.answer()->informativeText(), QString::fromStdString(failed->message));
    }

    void unsupportedFeedSchemeIsAnError() {
        AppcastUpdater updater(std::string("1.0.0"));
        updater.setFeedURL(QUrl(QStringLiteral("ftp://example.org/appcast.xml")));
        Answers answers(updater);
        updater.checkForUpdates(CheckKind::userInitiated);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 2000);
        QCOMPARE(answers.last(), UpdateCheckResult(CheckFailed{"The update feed address is not supported: ftp://example.org/appcast.xml"}));
    }

    void readsAFeedFromAFile() {
        test::TempDir dir;
        const auto path = dir.writeFile("appcast.xml", appcast(release("1.0.1")).toStdString());
        AppcastUpdater updater(std::string("1.0"));
        updater.setFeedURL(QUrl::fromLocalFile(QString::fromStdString(path)));
        Answers answers(updater);
        updater.checkForUpdates(CheckKind::userInitiated);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 5000);
        QCOMPARE(std::get<UpdateAvailable>(answers.last()).item.version, std::string("1.0.1"));
    }

    void userCheckWithoutFeedSaysSo() {
        UpdatesViewModel model(quietOptions());
        Answers answers(model.updater());
        Asker asker(model);
        asker.check();
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 2000);
        QCOMPARE(answers.last(), UpdateCheckResult(NoFeed{}));
        QVERIFY(asker.answer());
        QCOMPARE(asker.answer()->text(), QStringLiteral("No update feed is configured."));
        QVERIFY(!model.updater().lastUpdateCheckDate());
    }

    void backgroundCheckIsSilentUnlessAnUpdateIsFound() {
        FeedServer server(appcast(release("1.0.0")));
        AppcastUpdater(std::string("1.0.0")).setFeedURL(server.url());
        UpdatesViewModel model(UpdatesOptions{50ms, "1.0.0"});
        Answers answers(model.updater());
        Asker asker(model);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 5000);
        QCOMPARE(answers.list[0].first, CheckKind::background);
        QCOMPARE(answers.last(), UpdateCheckResult(UpToDate{"1.0.0"}));
        QVERIFY(!asker.answer());
        QVERIFY(model.updater().lastUpdateCheckDate().has_value());
    }

    void backgroundCheckRunsAfterAUserCheck() {
        FeedServer server(appcast(release("2.0")));
        AppcastUpdater(std::string("1.0.0")).setFeedURL(server.url());
        UpdatesViewModel model(UpdatesOptions{300ms, "1.0.0"});
        Answers answers(model.updater());
        Asker asker(model);
        asker.check();
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(2), 5000);
        QCOMPARE(answers.list[0].first, CheckKind::userInitiated);
        QCOMPARE(answers.list[1].first, CheckKind::background);
        QCOMPARE(server.requests(), 2);
        // A found update is shown even by the background check.
        QVERIFY(std::holds_alternative<UpdateAvailable>(answers.last()));
        QVERIFY(asker.answer());
        QCOMPARE(asker.answer()->text(), QStringLiteral("A new version of Corvane is available!"));
    }

    void backgroundCheckWithoutFeedDoesNothing() {
        UpdatesViewModel model(UpdatesOptions{50ms, "1.0.0"});
        Answers answers(model.updater());
        Asker asker(model);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), size_t(1), 2000);
        QCOMPARE(answers.last(), UpdateCheckResult(NoFeed{}));
        QVERIFY(!asker.answer());
        QVERIFY(!model.updater().lastUpdateCheckDate());
    }

    void backgroundCheckWaitsThreeSeconds() {
        FeedServer server(appcast(release("1.0.0")));
        AppcastUpdater(std::string("1.0.0")).setFeedURL(server.url());
        UpdatesViewModel model;  // the program's own delay
        QTest::qWait(2500);
        QCOMPARE(server.requests(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(server.requests(), 1, 3000);
    }

private:
    std::unique_ptr<test::TempDir> settingsDir_;
    UrlCatcher catcher_;
};

QTEST_MAIN(UpdatesTest)
#include "UpdatesTest.moc"
