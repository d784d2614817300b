// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window suites share: a folder of real photos (HEIC encoded by libheif) with real XMP
// sidecars, and the engine services a window runs on, over the real file system, the real image
// reader and real folder access (grants in a throw-away settings file; nobody to ask, so the folder
// prompt declines).

#include "engine/Diagnostics.h"
#include "platform/system/FolderAccess.h"
#include "platform/image/ImageMetadataReader.h"
#include "platform/system/PosixFileSystem.h"
#include "platform/system/SettingsGrantStore.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"
#include "tests/support/Fixtures.h"
#include "ui/ContentState.h"

#include <QMimeData>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <vector>

// Waits for a window's run to end.
#define WAIT_FOR_RUN_END(state) QTRY_VERIFY_WITH_TIMEOUT(!(state).isProcessing(), 60000)

namespace corvane::test {

class PhotoFolder {
public:
    PhotoFolder() : folder_(dir_.path() / "photos") { std::filesystem::create_directories(folder_); }

    const std::filesystem::path& path() const { return folder_; }

    // A photo at the suites' position with the given sidecar beside it: from an iPhone, or from another
    // camera (skipped while Apple-only is on).
    std::filesystem::path addPhoto(const std::string& name, const SidecarGPSProperties& sidecar, bool iPhone = true) {
        const std::filesystem::path image = folder_ / name;
        writeHeic(image, iPhone ? iPhoneImageAt(photoLatitude, photoLongitude) : cameraImageAt(photoLatitude, photoLongitude));
        writeText(std::filesystem::path(image).replace_extension("xmp"), sidecarXml(sidecar));
        return image;
    }

    // IMG_0001.HEIC, IMG_0002.HEIC, ... from an iPhone, all with the same sidecar.
    std::vector<std::filesystem::path> addPhotos(int count, const SidecarGPSProperties& sidecar) {
        std::vector<std::filesystem::path> photos;
        for (int i = 1; i <= count; ++i) photos.push_back(addPhoto("IMG_000" + std::to_string(i) + ".HEIC", sidecar));
        return photos;
    }

    // Locations without a file: each still gets a row, quickly.
    std::vector<std::filesystem::path> missingFiles(int count) const {
        std::vector<std::filesystem::path> files;
        for (int i = 0; i < count; ++i) files.push_back(folder_ / ("IMG_" + std::to_string(1000 + i) + ".HEIC"));
        return files;
    }

    std::filesystem::path addFile(const std::string& name) {
        writeText(folder_ / name, "not a photo");
        return folder_ / name;
    }

private:
    TempDir dir_;
    std::filesystem::path folder_;
};

// The services behind one test window.
class TestEngine {
public:
    TestEngine() : grants_((settingsDir_.path() / "grants.ini").string()), access_(PosixFileSystem::shared(), grants_, prompt_) {}

    WindowEngine engine() { return WindowEngine{PosixFileSystem::shared(), images_, access_}; }

private:
    TempDir settingsDir_;
    ImageMetadataReader images_;
    SettingsGrantStore grants_;
    DecliningFolderPrompt prompt_;
    FolderAccess access_;
};

// What a file manager puts on a drag of these files and folders: their file URLs (text/uri-list).
inline std::unique_ptr<QMimeData> dragOf(const std::vector<std::filesystem::path>& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const auto& path : paths) urls.append(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    mime->setUrls(urls);
    return mime;
}

}  // namespace corvane::test
