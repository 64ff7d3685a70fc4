#include "app/help_address.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace tarvelin {

QString HelpAddress() {
    const QString page = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                         QStringLiteral("/../share/tarvelin/help/index.html"));
    return QUrl::fromLocalFile(page).toString();
}

}  // namespace tarvelin
