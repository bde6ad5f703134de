#include "app/ExePath.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <climits>

namespace vantrel {

QString ExePath::path() {
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return QCoreApplication::applicationFilePath();
    QString result = QFile::decodeName(QByteArray(buffer, static_cast<int>(n)));
    static const QString deleted = QStringLiteral(" (deleted)");
    if (result.endsWith(deleted) && !QFileInfo::exists(result)) result.chop(deleted.size());
    return result;
}

QString ExePath::dir() {
    return dirOf(path());
}

QString ExePath::dirOf(const QString& exePath) {
    const qsizetype slash = exePath.lastIndexOf(u'/');
    if (slash < 0) return QStringLiteral("./");
    return exePath.left(slash + 1);
}

}  // namespace vantrel
