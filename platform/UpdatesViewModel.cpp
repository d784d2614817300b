#include "platform/UpdatesViewModel.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <iostream>

namespace corvane {
namespace {

constexpr double minimumCheckInterval = 60.0;
constexpr double defaultCheckInterval = 86400.0;

QString html(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }

QMessageBox* newBox(QMessageBox::Icon icon, const QString& text, const QString& informative) {
    auto* box = new QMessageBox(icon, QStringLiteral("Software Update"), text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setInformativeText(informative);
    // Feed and error texts are shown as written, never interpreted as markup.
    box->setTextFormat(Qt::PlainText);
    for (QLabel* label : box->findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    return box;
}

QMessageBox* updateAvailableBox(const UpdateAvailable& update) {
    QString informative = QStringLiteral("Corvane %1 is now available. You have %2.")
                              .arg(html(update.item.displayVersion()), html(update.currentVersion));
    if (update.releaseNotes) {
        informative += QStringLiteral("<br><a href=\"%1\">Release notes</a>")
                           .arg(update.releaseNotes->toString(QUrl::FullyEncoded).toHtmlEscaped());
    }
    QMessageBox* box = newBox(QMessageBox::Information, QStringLiteral("A new version of Corvane is available!"), informative);
    box->setTextFormat(Qt::RichText);
    // The release-notes link opens in the browser; the feed's own text never becomes markup (escaped above).
    for (QLabel* label : box->findChildren<QLabel*>()) {
        label->setTextFormat(Qt::RichText);
        label->setOpenExternalLinks(true);
    }
    if (update.downloadPage) {
        QPushButton* download = box->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        box->setDefaultButton(download);
        const QUrl page = *update.downloadPage;
        QObject::connect(box, &QMessageBox::buttonClicked, box, [download, page](QAbstractButton* clicked) {
            if (clicked == download) QDesktopServices::openUrl(page);
        });
    } else {
        box->addButton(QMessageBox::Ok);
    }
    return box;
}

}  // namespace

UpdatesViewModel::UpdatesViewModel(QObject* parent) : UpdatesViewModel(UpdatesOptions{}, parent) {}

UpdatesViewModel::UpdatesViewModel(const UpdatesOptions& options, QObject* parent)
    : QObject(parent), updater_(std::make_unique<AppcastUpdater>(options.currentVersion)) {
    updater_->setAutomaticallyChecksForUpdates(true);
    // NaN is not below the minimum, so an interval that is not a number stays as it is.
    if (updater_->updateCheckInterval() < minimumCheckInterval) updater_->setUpdateCheckInterval(defaultCheckInterval);

    statusLine_ = updaterStatusLine(updater_->preferences());
    static std::atomic<bool> printed{false};
    if (!printed.exchange(true)) std::cout << statusLine_ << std::endl;

    connect(updater_.get(), &AppcastUpdater::checkFinished, this, &UpdatesViewModel::present);
    // The background check runs whether or not the user has checked in the meantime.
    QTimer::singleShot(options.backgroundCheckDelay, this, [this] { updater_->checkForUpdates(CheckKind::background); });
}

UpdatesViewModel::~UpdatesViewModel() {
    if (dialog_) dialog_->close();
}

void UpdatesViewModel::checkForUpdates() { updater_->checkForUpdates(CheckKind::userInitiated); }

AppcastUpdater& UpdatesViewModel::updater() { return *updater_; }

QMessageBox* UpdatesViewModel::dialog() const { return dialog_.data(); }

void UpdatesViewModel::present(CheckKind kind, const UpdateCheckResult& result) {
    const bool user = kind == CheckKind::userInitiated;
    if (const auto* update = std::get_if<UpdateAvailable>(&result)) {
        showDialog(updateAvailableBox(*update));
    } else if (!user) {
        return;  // a background check speaks only when it found an update
    } else if (const auto* current = std::get_if<UpToDate>(&result)) {
        showDialog(newBox(QMessageBox::Information, QStringLiteral("You're up to date"),
                          QStringLiteral("Corvane %1 is currently the newest version available.")
                              .arg(QString::fromStdString(current->currentVersion))));
    } else if (const auto* failure = std::get_if<CheckFailed>(&result)) {
        showDialog(newBox(QMessageBox::Warning, QStringLiteral("The update check failed."),
                          QString::fromStdString(failure->message)));
    } else {
        showDialog(newBox(QMessageBox::Information, QStringLiteral("No update feed is configured."), QString()));
    }
}

void UpdatesViewModel::showDialog(QMessageBox* box) {
    dialog_ = box;
    box->open();
}

}  // namespace corvane
