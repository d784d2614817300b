// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>

#include <filesystem>

namespace corvane {

// The file URL of a local path, built from the path's bytes so that any file name round-trips.
QUrl fileUrl(const std::filesystem::path& path);

// Opens the user's file manager at the file's folder with the file selected, through the desktop's
// org.freedesktop.FileManager1 D-Bus service; where no such service answers, the folder is opened
// with the desktop's default handler. Returns at once; the answer is not reported.
void revealInFileManager(const std::filesystem::path& file);

}  // namespace corvane
