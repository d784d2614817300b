// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/QtFolderPrompt.h"

#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

namespace corvane {

std::unique_ptr<QFileDialog> QtFolderPrompt::makeDialog(const FolderPromptRequest& request, QWidget* parent) {
    auto dialog = std::make_unique<QFileDialog>(parent, QStringLiteral("Corvane"));
    dialog->setObjectName(QStringLiteral("folderPrompt"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::Directory);
    // The message needs the dialog's own widgets; ReadOnly takes away "Create New Folder".
    dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
    dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(request.confirmTitle));
    dialog->setDirectory(QFile::decodeName(QByteArray::fromStdString(request.startFolder.string())));
    dialog->setWindowModality(Qt::ApplicationModal);

    auto* message = new QLabel(QString::fromStdString(request.message), dialog.get());
    message->setObjectName(QStringLiteral("folderPromptMessage"));
    message->setWordWrap(true);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()))
        grid->addWidget(message, grid->rowCount(), 0, 1, grid->columnCount());
    else if (dialog->layout())
        dialog->layout()->addWidget(message);
    return dialog;
}

std::optional<std::filesystem::path> QtFolderPrompt::chooseFolder(const FolderPromptRequest& request) {
    const auto dialog = makeDialog(request, parent_.data());
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return std::filesystem::path(QFile::encodeName(chosen.front()).toStdString());
}

}  // namespace corvane
