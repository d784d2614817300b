// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UpdateDialogs.h"

#include "platform/updates/UpdatesViewModel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace corvane {
namespace {

const QString dialogTitle = QStringLiteral("Software Update");

QString html(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }

QMessageBox* newBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& informative) {
    auto* box = new QMessageBox(icon, dialogTitle, text, QMessageBox::NoButton, parent);
    box->setInformativeText(informative);
    // Feed and error texts are shown as written, never interpreted as markup.
    box->setTextFormat(Qt::PlainText);
    for (QLabel* label : box->findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    return box;
}

QMessageBox* updateAvailableBox(QWidget* parent, const UpdateAvailable& update) {
    QString informative = QStringLiteral("Corvane %1 is now available. You have %2.")
                              .arg(html(update.item.displayVersion()), html(update.currentVersion));
    if (update.releaseNotes) {
        informative += QStringLiteral("<br><a href=\"%1\">Release notes</a>")
                           .arg(update.releaseNotes->toString(QUrl::FullyEncoded).toHtmlEscaped());
    }
    QMessageBox* box =
        newBox(parent, QMessageBox::Information, QStringLiteral("A new version of Corvane is available!"), informative);
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

QMessageBox* answerBox(QWidget* parent, const UpdateCheckResult& result) {
    if (const auto* update = std::get_if<UpdateAvailable>(&result)) return updateAvailableBox(parent, *update);
    if (const auto* current = std::get_if<UpToDate>(&result)) {
        return newBox(parent, QMessageBox::Information, QStringLiteral("You're up to date"),
                      QStringLiteral("Corvane %1 is currently the newest version available.")
                          .arg(QString::fromStdString(current->currentVersion)));
    }
    if (const auto* failure = std::get_if<CheckFailed>(&result))
        return newBox(parent, QMessageBox::Warning, QStringLiteral("The update check failed."),
                      QString::fromStdString(failure->message));
    return newBox(parent, QMessageBox::Information, QStringLiteral("No update feed is configured."), QString());
}

}  // namespace

UpdateDialogs::UpdateDialogs(UpdatesViewModel& updates, std::function<QWidget*()> fallbackParent, QObject* parent)
    : QObject(parent), updates_(updates), fallbackParent_(std::move(fallbackParent)) {
    connect(&updates_.updater(), &AppcastUpdater::checkFinished, this, &UpdateDialogs::present);
}

UpdateDialogs::~UpdateDialogs() {
    if (dialog_) dialog_->close();
}

QMessageBox* UpdateDialogs::answer() const { return qobject_cast<QMessageBox*>(dialog_.data()); }

void UpdateDialogs::checkForUpdates(QWidget* requester) {
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    requester_ = requester ? requester : fallbackParent_();
    userCheckRunning_ = true;
    QWidget* window = requester_ ? requester_->window() : nullptr;
    auto* progress = new QProgressDialog(QStringLiteral("Checking for updates\u2026"), QString(), 0, 0, window);
    progress->setWindowTitle(dialogTitle);
    progress->setMinimumDuration(0);
    show(progress);
    updates_.checkForUpdates();
}

void UpdateDialogs::present(CheckKind kind, const UpdateCheckResult& result) {
    QWidget* parent = nullptr;
    if (kind == CheckKind::userInitiated && userCheckRunning_) {
        userCheckRunning_ = false;
        if (dialog_) dialog_->close();  // the progress dialog
        parent = requester_ ? requester_.data() : fallbackParent_();
    } else {
        // A background check speaks only of a found update, and never over an open dialog.
        if (!std::holds_alternative<UpdateAvailable>(result) || dialog_) return;
        parent = QApplication::activeWindow() ? QApplication::activeWindow() : fallbackParent_();
    }
    if (!parent) return;  // no window left to show it over
    show(answerBox(parent->window(), result));
}

void UpdateDialogs::show(QDialog* dialog) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog_ = dialog;
    // Window-modal to its window, opened (not executed), so the event loop and other windows go on.
    dialog->open();
}

}  // namespace corvane
