// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/system/FolderAccess.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QFileDialog;

namespace corvane {

// Asks for a sidecar's folder in a modal folder chooser over the window: folders only, one of them, no
// new folders, opening at the sidecar's folder, with the request's message above the buttons and its
// confirm title ("Allow") on the accept button. Blocks the caller (the event loop keeps running)
// until the user answers.
class QtFolderPrompt : public FolderPrompt {
public:
    explicit QtFolderPrompt(QWidget* parent) : parent_(parent) {}

    std::optional<std::filesystem::path> chooseFolder(const FolderPromptRequest& request) override;

    // The dialog as chooseFolder shows it.
    static std::unique_ptr<QFileDialog> makeDialog(const FolderPromptRequest& request, QWidget* parent);

private:
    QPointer<QWidget> parent_;
};

}  // namespace corvane
