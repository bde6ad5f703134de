#include "UserSettings.h"

#include <QDir>
#include <QFileInfo>

namespace vantrel {

QString UserSettingsPath(const QString& listPath) {
    return QFileInfo(listPath).absoluteDir().filePath(QString::fromLatin1(kUserSettingsBaseName));
}

std::unique_ptr<QSettings> OpenUserSettings(const QString& listPath) {
    return std::make_unique<QSettings>(UserSettingsPath(listPath), QSettings::IniFormat);
}

}  // namespace vantrel
