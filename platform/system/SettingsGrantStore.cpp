// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/SettingsGrantStore.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <sys/stat.h>

namespace corvane {
namespace {

std::unique_ptr<QSettings> openSettings(const std::string& iniPath) {
    if (iniPath.empty()) return std::make_unique<QSettings>(QStringLiteral("Corvane"), QStringLiteral("Corvane"));
    return std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat);
}

QString keyText(std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); }

}  // namespace

SettingsGrantStore::SettingsGrantStore() = default;
SettingsGrantStore::SettingsGrantStore(const std::string& iniPath) : iniPath_(iniPath) {}
SettingsGrantStore::~SettingsGrantStore() = default;

std::optional<std::string> SettingsGrantStore::dataForKey(std::string_view key) const {
    if (!reader_) {
        reader_ = openSettings(iniPath_);
        readerFile_ = reader_->fileName().toStdString();
    }
    // Pick up grants another process stored since this one last looked. One stat tells whether the file
    // changed; QSettings' own check looks at every fallback file, several calls per lookup.
    struct stat info {};
    const FileStamp stamp = ::stat(readerFile_.c_str(), &info) == 0
                                ? FileStamp{true, info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec}
                                : FileStamp{};
    if (!readerStamp_ || *readerStamp_ != stamp) {
        reader_->sync();
        readerStamp_ = stamp;
    }
    const QVariant value = reader_->value(keyText(key));
    if (!value.isValid()) return std::nullopt;
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool SettingsGrantStore::setData(std::string_view key, std::string_view bytes) {
    auto settings = openSettings(iniPath_);
    settings->setValue(keyText(key), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

}  // namespace corvane
