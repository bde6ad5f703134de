#pragma once
// A notifier that keeps every announcement as "<label> <status>", for the Qt tests of the check
// runner and the monitor. A Qt header only, like TrayProbe.h: the support library stays Qt-free.
#include <QStringList>

#include "core/Notifier.h"

namespace vantrel::test {

class RecordingNotifier : public Notifier {
  public:
    void announce(PageStatus newStatus, EntryId, const std::u16string& label) override {
        static const char* const names[] = {"online", "changed", "offline"};
        said << QString::fromStdU16String(label) + QLatin1Char(' ') +
                    QString::fromLatin1(names[static_cast<int>(newStatus)]);
    }
    QStringList said;
};

}  // namespace vantrel::test
