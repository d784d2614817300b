#include "platform/SettingsGrantStore.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

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
    auto settings = openSettings(iniPath_);
    settings->sync();  // pick up grants another process stored since this one last looked
    const QVariant value = settings->value(keyText(key));
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
