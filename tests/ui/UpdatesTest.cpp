// SPDX-License-Identifier: GPL-3.0-or-later
// The update service: its start-up line and preferences, the appcast's reading and version order, and
// checks against feeds served on 127.0.0.1 by the test itself (no outside network), answered over the
// window that asked.
#include "platform/updates/Appcast.h"
#include "platform/updates/UpdatesViewModel.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/TempDir.h"
#include "ui/UpdateDialogs.h"

#include <QtNetwork>
#include <QtWidgets>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Answers every HTTP request on 127.0.0.1 with one fixed response, then closes the connection. A
// declared length beyond the body keeps the connection open, as a slow server would.
class FeedServer : public QObject {
public:
    explicit FeedServer(QByteArray body, QByteArray status = "200 OK", qint64 declaredLength = -1)
        : body_(std::move(body)), status_(std::move(status)), declaredLength_(declaredLength) {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!(requests_[socket] += socket->readAll()).contains("\r\n\r\n")) return;  // more to come
                    const qint64 length = declaredLength_ >= 0 ? declaredLength_ : body_.size();
                    socket->write("HTTP/1.1 " + status_ + "\r\nContent-Length: " + QByteArray::number(length) +
                                  "\r\nConnection: close\r\n\r\n" + body_);
                    if (declaredLength_ < 0) socket->disconnectFromHost();
                });
        });
        server_.listen(QHostAddress::LocalHost);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server_.serverPort())); }
    int requests() const { return int(requests_.size()); }

private:
    QTcpServer server_;  // owns the sockets
    QByteArray body_, status_;
    qint64 declaredLength_;
    QHash<QTcpSocket*, QByteArray> requests_;
};

QByteArray appcast(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n<channel><title>Corvane</title>\n" +
           items + "</channel></rss>\n";
}

QByteArray release(const QByteArray& version) {
    return "<item><title>Corvane " + version + "</title><sparkle:version>" + version +
           "</sparkle:version><sparkle:releaseNotesLink>https://example.org/notes/" + version +
           ".html</sparkle:releaseNotesLink><link>https://example.org/download/" + version +
           "</link><enclosure url=\"https://example.org/Corvane-" + version + ".tar.gz\" length=\"1\"/></item>\n";
}

// A check's answer in one line: what the dialog would offer.
QString describe(const UpdateCheckResult& result) {
    if (std::holds_alternative<UpToDate>(result)) return QStringLiteral("up to date");
    if (std::holds_alternative<NoFeed>(result)) return QStringLiteral("no feed");
    if (const auto* failed = std::get_if<CheckFailed>(&result)) return QString::fromStdString(failed->message);
    const auto& update = std::get<UpdateAvailable>(result);
    const auto link = [](const std::optional<QUrl>& url) { return url ? url->toString() : QStringLiteral("-"); };
    return QString::fromStdString(update.item.title + " " + update.item.displayVersion()) + " page=" + link(update.downloadPage) +
           " notes=" + link(update.releaseNotes);
}

// Receives the URLs the program hands to the desktop for opening, instead of a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

}  // namespace

class UpdatesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher_, "open"); }

    // Each test has its own settings.
    void init() {
        settingsDir_ = std::make_unique<test::TempDir>();
        for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, QString::fromStdString(settingsDir_->path()));
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    // Must stay the first test that creates a service: its line is printed once per process. Starting
    // switches automatic checks back on, raises a short interval and checks 3 s later.
    void theServiceStartsWithItsLineOnceAndChecksThreeSecondsLater() {
        FeedServer server(appcast(release("1.0.0")));
        AppcastUpdater setup(std::string("1.0.0"));
        setup.setAutomaticallyChecksForUpdates(false);
        setup.setUpdateCheckInterval(30);
        setup.setLastUpdateCheckDate(QDateTime(QDate(2025, 2, 1), QTime(1, 59, 59), QTimeZone(2 * 3600)));
        setup.setFeedURL(server.url());
        DiagnosticsCapture capture;
        UpdatesViewModel first;
        UpdatesViewModel second(UpdatesOptions{1h, "1.0.0"});
        QCOMPARE(QString::fromStdString(capture.text()),
                 "[Sparkle] auto=true interval=86400.0s last=Optional(2025-01-31 23:59:59 +0000) feed=Optional(" +
                     server.url().toString() + ")\n");
        QVERIFY(first.updater().automaticallyChecksForUpdates() &&
                QSettings(QStringLiteral("Corvane"), QStringLiteral("Corvane")).value("SUEnableAutomaticChecks").toBool());
        QTest::qWait(2500);
        QCOMPARE(server.requests(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(server.requests(), 1, 3000);
        // The line's other spellings.
        QCOMPARE(updaterStatusLine({false, 60.0, std::nullopt, std::nullopt}),
                 std::string("[Sparkle] auto=false interval=60.0s last=nil feed=nil"));
        QCOMPARE(updaterStatusLine({true, 0.1, std::nullopt, QUrl(QStringLiteral("https://example.org/app cast.xml?x=1"))}),
                 std::string("[Sparkle] auto=true interval=0.1s last=nil feed=Optional(https://example.org/app%20cast.xml?x=1)"));
    }

    void checkIntervalRule_data() {
        QTest::addColumn<QVariant>("stored");  // a double goes through the updater; other values straight to the settings
        QTest::addColumn<QString>("printed");
        QTest::newRow("just under a minute is raised to a day") << QVariant(59.999) << "86400.0";
        QTest::newRow("60 s stays") << QVariant(60.0) << "60.0";
        QTest::newRow("not a number stays") << QVariant(std::numeric_limits<double>::quiet_NaN()) << "nan";
        QTest::newRow("nothing stored reads as a day") << QVariant() << "86400.0";
        // Written by hand or by another tool as an integer or as text.
        QTest::newRow("integer 30 is raised") << QVariant(30) << "86400.0";
        QTest::newRow("text 7200 stays") << QVariant(QStringLiteral("7200")) << "7200.0";
        QTest::newRow("unreadable text reads as a day") << QVariant(QStringLiteral("soon")) << "86400.0";
    }

    void checkIntervalRule() {
        QFETCH(QVariant, stored);
        QFETCH(QString, printed);
        if (stored.typeId() == QMetaType::Double)
            AppcastUpdater(std::string("1.0.0")).setUpdateCheckInterval(stored.toDouble());
        else if (stored.isValid())
            QSettings(QStringLiteral("Corvane"), QStringLiteral("Corvane")).setValue("SUScheduledCheckInterval", stored);
        UpdatesViewModel model(UpdatesOptions{1h, "1.0.0"});
        QCOMPARE(QString::fromStdString(model.statusLine()), "[Sparkle] auto=true interval=" + printed + "s last=nil feed=nil");
        // The raised value is stored, so a fresh reader sees it too.
        const double reread = AppcastUpdater(std::string("1.0.0")).updateCheckInterval();
        QVERIFY(printed == "nan" ? std::isnan(reread) : reread == printed.toDouble());
    }

    void versionOrder_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("components compare as numbers") << "1.10.0" << "1.9.2" << 1;
        QTest::newRow("missing components are zero") << "1.0" << "1.0.0" << 0;
        QTest::newRow("leading zeros do not count") << "01.002" << "1.2" << 0;
        QTest::newRow("longer than 64 bits") << "123456789012345678901234.1" << "123456789012345678901233.9" << 1;
        QTest::newRow("pre-release before its release") << "1.0b2" << "1.0" << -1;
        QTest::newRow("pre-release numbers as numbers") << "1.0b10" << "1.0b9" << 1;
        QTest::newRow("dash pre-release") << "2.0-rc1" << "2.0" << -1;
        QTest::newRow("word component before a number") << "1.0.beta" << "1.0" << -1;
        QTest::newRow("v prefix and blanks ignored") << " v1.2 " << "1.2" << 0;
    }

    void versionOrder() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(compareVersions(a.toStdString(), b.toStdString()), order);
        QCOMPARE(compareVersions(b.toStdString(), a.toStdString()), -order);
    }

    // What a feed offers to a running 1.0, read from https://example.org/updates/appcast.xml.
    void aFeedsAnswer_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("answer");
        QTest::newRow("the newest") << appcast(release("1.1.0") + release("1.10.0") + release("1.9.2"))
            << "Corvane 1.10.0 1.10.0 page=https://example.org/download/1.10.0 notes=https://example.org/notes/1.10.0.html";
        // An item without a version is left out.
        QTest::newRow("up to date") << appcast(release("0.9") + release("1.0") + "<item><link>https://e.org/3</link></item>")
                                    << "up to date";
        QTest::newRow("version on the enclosure, short version shown")
            << appcast("<item><title>Beta</title><enclosure url=\"https://example.org/b.tar.gz\" sparkle:version=\"2.1\" "
                       "sparkle:shortVersionString=\"2.1 beta\"/></item>")
            << "Beta 2.1 beta page=https://example.org/b.tar.gz notes=-";
        QTest::newRow("the element wins over the enclosure's version")
            << appcast("<item><sparkle:version>0.9</sparkle:version><enclosure sparkle:version=\"3\"/></item>") << "up to date";
        QTest::newRow("a short version alone serves")
            << appcast("<item><sparkle:shortVersionString>1.5</sparkle:shortVersionString></item>") << " 1.5 page=- notes=-";
        QTest::newRow("CDATA, blanks and unknown elements")
            << appcast("<item><description><![CDATA[<p>Notes</p>]]></description><title> <![CDATA[Spaced]]> </title>"
                       "<sparkle:version> 3.0 </sparkle:version><foo><bar/></foo></item>") << "Spaced 3.0 page=- notes=-";
        QTest::newRow("relative links resolve against the feed")
            << appcast("<item><sparkle:version>2</sparkle:version><link>download.html</link>"
                       "<sparkle:releaseNotesLink>/notes/2.html</sparkle:releaseNotesLink></item>")
            << " 2 page=https://example.org/updates/download.html notes=https://example.org/notes/2.html";
        // A feed must not get the desktop to open local files or run other scheme handlers.
        QTest::newRow("only web links are offered")
            << appcast("<item><sparkle:version>2</sparkle:version><link>file:///usr/bin/xterm</link><sparkle:releaseNotesLink>"
                       "javascript:alert(1)</sparkle:releaseNotesLink><enclosure url=\"smb://host/share/x\"/></item>")
            << " 2 page=- notes=-";
        QTest::newRow("builds for other systems are left out")
            << appcast("<item><enclosure url=\"https://e.org/m\" sparkle:version=\"3.0\" sparkle:os=\"macos\"/></item>"
                       "<item><enclosure url=\"https://e.org/w\" sparkle:version=\"2.5\" sparkle:os=\"windows\"/></item>"
                       "<item><enclosure url=\"https://e.org/l\" sparkle:version=\"2.0\" sparkle:os=\"linux\"/></item>"
                       "<item><enclosure url=\"https://e.org/a\" sparkle:version=\"1.5\"/></item>")
            << " 2.0 page=https://e.org/l notes=-";
        QTest::newRow("empty") << QByteArray() << "The update feed is empty.";
        QTest::newRow("unclosed item") << appcast("<item>").replace("</channel></rss>", "") << "not valid XML";
        QTest::newRow("undeclared sparkle prefix") << QByteArray("<rss><channel><item><sparkle:version>2</sparkle:version>"
                                                                 "</item></channel></rss>") << "not valid XML";
        QTest::newRow("an HTML page") << QByteArray("<html><body>Not found</body></html>") << "not an RSS appcast";
        QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe<rss", 8) << "not valid XML";
        QTest::newRow("entity expansion bomb")
            << QByteArray("<!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;"
                          "&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]><rss>"
                          "<channel><title>&d;&d;&d;</title></channel></rss>") << "not valid XML";
    }

    void aFeedsAnswer() {
        QFETCH(QByteArray, xml);
        QFETCH(QString, answer);
        const UpdateCheckResult result = evaluateAppcast(std::string_view(xml.constData(), size_t(xml.size())),
                                                         QUrl(QStringLiteral("https://example.org/updates/appcast.xml")), "1.0");
        const QString got = describe(result);
        QCOMPARE(result == UpdateCheckResult(UpToDate{"1.0"}), answer == "up to date");
        QVERIFY2(answer.startsWith(QLatin1String("not ")) ? got.contains(answer) : got == answer, qPrintable(got));
    }

    // A user's check shows at once a progress dialog over the asking window, then the answer in its
    // place. A background check speaks only of a found update, and never over a dialog already open;
    // it runs even when the user has just checked.
    void aCheckIsAnsweredOverItsWindow_data() {
        QTest::addColumn<QString>("feed");  // "server", "404", "large", "closed", "file", "ftp", "none"
        QTest::addColumn<QByteArray>("items");
        QTest::addColumn<int>("checks");  // 1: the user's, 0: the background one, 2: both
        QTest::addColumn<QString>("title");  // empty: no dialog
        QTest::addColumn<QString>("informative");  // its beginning
        const QString newer = QStringLiteral("A new version of Corvane is available!");
        const QString failed = QStringLiteral("The update check failed.");
        QTest::newRow("newer") << "server" << release("1.10.0") + release("1.9.2") << 1 << newer
                               << "Corvane 1.10.0 is now available. You have 1.0.0.<br><a href=\"https://example.org/notes/1.10.0.html\">";
        QTest::newRow("up to date") << "server" << release("1.0") << 1 << "You're up to date"
                                    << "Corvane 1.0.0 is currently the newest version available.";
        QTest::newRow("from a file") << "file" << release("1.0.1") << 1 << newer << "Corvane 1.0.1";
        QTest::newRow("unreachable") << "closed" << QByteArray() << 1 << failed
                                     << "The update feed could not be loaded: Connection refused";
        QTest::newRow("missing") << "404" << QByteArray() << 1 << failed << "The update feed could not be loaded:";
        QTest::newRow("oversized") << "large" << QByteArray() << 1 << failed << "The update feed is larger than 16 MiB.";
        QTest::newRow("unsupported address") << "ftp" << QByteArray() << 1 << failed
                                             << "The update feed address is not supported: ftp://example.org/appcast.xml";
        QTest::newRow("no feed") << "none" << QByteArray() << 1 << "No update feed is configured." << "";
        QTest::newRow("background, up to date") << "server" << release("1.0.0") << 0 << "" << "";
        QTest::newRow("background without a feed") << "none" << QByteArray() << 0 << "" << "";
        QTest::newRow("background after the user's") << "server" << release("2.0") << 2 << newer << "Corvane 2.0";
    }

    void aCheckIsAnsweredOverItsWindow() {
        QFETCH(QString, feed);
        QFETCH(QByteArray, items);
        QFETCH(int, checks);
        QFETCH(QString, title);
        QFETCH(QString, informative);
        FeedServer server(appcast(items), feed == "404" ? "404 Not Found" : "200 OK", feed == "large" ? 100 << 20 : -1);
        test::TempDir dir;
        const QUrl file = QUrl::fromLocalFile(QString::fromStdString(dir.writeFile("appcast.xml", appcast(items).toStdString())));
        const std::map<QString, QUrl> addresses{{"file", file}, {"closed", QUrl("http://127.0.0.1:1/appcast.xml")},
                                                {"ftp", QUrl("ftp://example.org/appcast.xml")}};
        if (feed != "none")
            AppcastUpdater(std::string("1.0.0")).setFeedURL(addresses.contains(feed) ? addresses.at(feed) : server.url());
        UpdatesViewModel model(UpdatesOptions{checks == 1 ? std::chrono::milliseconds(1h) : 300ms, "1.0.0"});
        std::vector<CheckKind> answered;
        connect(&model.updater(), &AppcastUpdater::checkFinished, this, [&](CheckKind kind) { answered.push_back(kind); });
        QWidget window;
        window.show();
        UpdateDialogs dialogs(model, [&window] { return &window; });
        if (checks > 0) {
            dialogs.checkForUpdates(&window);
            auto* progress = qobject_cast<QProgressDialog*>(dialogs.dialog());
            QVERIFY(progress && progress->isVisible() && progress->parentWidget() == &window);
            QCOMPARE(progress->labelText(), QStringLiteral("Checking for updates\u2026"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), size_t(std::max(checks, 1)), 5000);
        QCOMPARE(answered.back(), checks == 1 ? CheckKind::userInitiated : CheckKind::background);
        if (feed == "server") QCOMPARE(server.requests(), int(answered.size()));
        // A check that reached its feed, whatever it found, is the last check.
        QCOMPARE(model.updater().lastUpdateCheckDate().has_value(), feed != "none" && feed != "ftp");
        QMessageBox* box = dialogs.answer();
        QCOMPARE(box ? box->text() : QString(), title);
        if (!box) return;
        QVERIFY(box->isVisible() && box->parentWidget() == &window);
        QCOMPARE(box->icon(), title.endsWith("failed.") ? QMessageBox::Warning : QMessageBox::Information);
        QCOMPARE(box->informativeText().left(informative.size()), informative);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "Open Download Page") button->click();
        if (QTest::currentDataTag() == QLatin1String("newer"))
            QCOMPARE(catcher_.urls, QList<QUrl>{QUrl(QStringLiteral("https://example.org/download/1.10.0"))});
        box->close();
    }

private:
    std::unique_ptr<test::TempDir> settingsDir_;
    UrlCatcher catcher_;
};

QTEST_MAIN(UpdatesTest)
#include "UpdatesTest.moc"
