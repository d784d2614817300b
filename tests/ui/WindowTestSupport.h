#pragma once

// What the window suites share: a folder of real photos (HEIC encoded by libheif) with real XMP
// sidecars, and the engine services a window runs on, over the real file system, the real image
// reader and real folder access (grants in a throw-away settings file; nobody to ask, so the folder
// prompt declines).

#include "engine/Diagnostics.h"
#include "platform/FolderAccess.h"
#include "platform/ImageMetadataReader.h"
#include "platform/PosixFileSystem.h"
#include "platform/SettingsGrantStore.h"
#include "tests/support/SidecarXml.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"
#include "ui/ContentState.h"

#include <QByteArray>
#include <QList>
#include "tests/support/Fixtures.h"

#include <QMimeData>
#include <QUrl>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

// Sidecars somewhere else entirely (GPS differs).
inline const SidecarGPSProperties& elsewhereSidecar = parisSidecar;

class PhotoFolder {
public:
    PhotoFolder() : folder_(dir_.path() / "photos") { std::filesystem::create_directories(folder_); }

    const std::filesystem::path& path() const { return folder_; }
    std::filesystem::path root() const { return dir_.path(); }

    // An iPhone photo at the suites' position with the given sidecar beside it.
    std::filesystem::path addPhoto(const std::string& name, const SidecarGPSProperties& sidecar) {
        const std::filesystem::path image = folder_ / name;
        writeHeic(image, iPhoneImageAt(photoLatitude, photoLongitude));
        writeText(std::filesystem::path(image).replace_extension("xmp"), sidecarXml(sidecar));
        return image;
    }

    // A photo from another camera (skipped while Apple-only is on), with a canonical sidecar.
    std::filesystem::path addCameraPhoto(const std::string& name) {
        const std::filesystem::path image = folder_ / name;
        writeHeic(image, cameraImageAt(photoLatitude, photoLongitude));
        writeText(std::filesystem::path(image).replace_extension("xmp"), sidecarXml(canonicalSidecar));
        return image;
    }

    std::filesystem::path addFile(const std::string& name, const std::string& text = "not a photo") {
        const std::filesystem::path file = folder_ / name;
        writeText(file, text);
        return file;
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

inline QUrl fileUrlOf(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

// What a file manager puts on a drag of these files and folders: their file URLs (text/uri-list).
inline std::unique_ptr<QMimeData> dragOf(const std::vector<std::filesystem::path>& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const auto& path : paths) urls.append(fileUrlOf(path));
    mime->setUrls(urls);
    return mime;
}

}  // namespace corvane::test
