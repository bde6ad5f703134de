#pragma once
// The user's own preferences that are not part of the page list (the chosen view, the network and
// alarm settings): kept in "settings.ini" beside the list file, which for an installed copy is the
// user's configuration folder. The list file itself keeps only its own keys.
#include <QSettings>
#include <QString>

#include <memory>

namespace vantrel {

inline constexpr char kUserSettingsBaseName[] = "settings.ini";

// The settings file beside the page list file `listPath`.
QString UserSettingsPath(const QString& listPath);

// The settings file opened in INI form. Each feature keeps its keys in a group of its own
// ("View", "Network", "Alarms"), so the features never read each other's keys.
std::unique_ptr<QSettings> OpenUserSettings(const QString& listPath);

}  // namespace vantrel
