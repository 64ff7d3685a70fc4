#include "app/help_address.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace tarvelin {

QString HelpAddress() {
#ifdef Q_OS_WIN
    const QString below = QStringLiteral("/help/index.html");
#else
    const QString below = QStringLiteral("/../share/tarvelin/help/index.html");
#endif
    const QString page = QDir::cleanPath(QCoreApplication::applicationDirPath() + below);
    return QUrl::fromLocalFile(page).toString();
}

}  // namespace tarvelin
