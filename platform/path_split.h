// The rules of paths: folder and file-name parts, the separator. The separator is a parameter so that both the Windows ("\") and the POSIX ("/")
// conventions can be exercised on any platform.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// "\\" on Windows, "/" elsewhere; each half of the platform layer defines it.
extern const char kNativeSeparator;

// Everything after the last separator; the whole path without one; empty when it ends with one.
std::string FileNameFromPath(std::string_view path, char separator = kNativeSeparator);

// Everything up to and including the last separator; empty without one.
// FolderFromPath(p) + FileNameFromPath(p) == p for every p.
std::string FolderFromPath(std::string_view path, char separator = kNativeSeparator);

// The path unchanged when it ends with the separator, else the path followed by it.
// The empty path gives the separator alone.
std::string AddSeparator(std::string_view path, char separator = kNativeSeparator);

}  // namespace tarvelin
