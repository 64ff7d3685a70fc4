// Paths between Qt's QString and the core's byte strings, in one place for the window and its dialogs.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace tarvelin {

// The core holds UTF-8 on Windows and converts to UTF-16 only at the system calls; the local 8-bit
// encoding there is the ANSI code page, which would lose every character outside it. On POSIX the
// bytes are the file system's own, which Qt's file-name codec keeps.
inline std::string CorePath(const QString &path) {
    const QString native = QDir::toNativeSeparators(path);
    return PathsAreUtf8() ? native.toStdString() : QFile::encodeName(native).toStdString();
}

inline QString QStringFromCorePath(std::string_view path) {
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return PathsAreUtf8() ? QString::fromUtf8(bytes) : QFile::decodeName(bytes);
}

}  // namespace tarvelin
