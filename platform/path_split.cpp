#include "platform/path_split.h"

#include "platform/ascii_case.h"

namespace tarvelin {

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

}  // namespace tarvelin
