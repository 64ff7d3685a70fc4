#include "platform/path_split.h"

#include "platform/ascii_case.h"

namespace tarvelin {

namespace {

// The part of a source folder that names its root: it is left out of the mirrored folder.
std::size_t RootLength(std::string_view folder, char separator) {
    if (separator != '\\') {
        std::size_t n = 0;
        while (n < folder.size() && folder[n] == separator) ++n;
        return n;
    }
    const auto isDrive = [](std::string_view s) { return s.size() >= 2 && IsAsciiLetter(s[0]) && s[1] == ':'; };
    if (folder.starts_with(R"(\\?\UNC\)")) return 8;
    if (folder.starts_with(R"(\\?\)") && isDrive(folder.substr(4)))
        return folder.size() >= 7 && folder[6] == '\\' ? 7 : 6;
    if (folder.starts_with(R"(\\)")) return 2;   // \\server\share\ keeps its server name
    if (isDrive(folder)) return folder.size() >= 3 && folder[2] == '\\' ? 3 : 2;
    if (folder.starts_with("\\")) return 1;
    return 0;
}

}  // namespace

std::string FileNameFromPath(std::string_view path, char separator) {
    const auto last = path.rfind(separator);
    return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

std::string FolderFromPath(std::string_view path, char separator) {
    const auto last = path.rfind(separator);
    return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last + 1));
}

std::string AddSeparator(std::string_view path, char separator) {
    std::string result(path);
    if (result.empty() || result.back() != separator) result += separator;
    return result;
}

std::string OutputFolderFor(std::string_view outputRoot, std::string_view sourceFolder, char separator) {
    std::string folder(outputRoot);
    folder += sourceFolder.substr(RootLength(sourceFolder, separator));
    return folder;
}

}  // namespace tarvelin
