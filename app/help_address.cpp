#include "app/help_address.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

#include "platform/system.h"

namespace tarvelin {

QString HelpAddress() {
    const QString below = QString::fromUtf8(kProgramDataFolder) + QStringLiteral("/help/index.html");
    const QString page = QDir::cleanPath(QCoreApplication::applicationDirPath() + below);
    return QUrl::fromLocalFile(page).toString();
}

}  // namespace tarvelin
