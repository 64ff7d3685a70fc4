#include "platform/windows/wide_text.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace tarvelin {

namespace {

constexpr std::wstring_view kVerbatim = LR"(\\?\)";

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::wstring CurrentFolder() {
    std::wstring folder(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
        if (size == 0) return {};
        if (size < folder.size()) {
            folder.resize(size);
            return folder;
        }
        folder.resize(size);
    }
}

// GetFullPathNameW drops trailing dots and spaces, so it serves only the rare drive-relative
// form ("C:mail"), whose meaning only the system knows.
std::wstring FullPathOf(const std::wstring &path) {
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(written < size ? written : 0);
    return full.empty() ? path : full;
}

// Appends the parts of `rest` to `result`, dropping "." and empty parts, and letting ".." remove
// the part before it but never one of the first `fixedParts` (a UNC path's server and share).
void AppendNormalParts(std::wstring &result, std::wstring_view rest, std::size_t fixedParts) {
    std::vector<std::wstring_view> parts;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(L'\\', start);
        if (end == std::wstring_view::npos) end = rest.size();
        const std::wstring_view part = rest.substr(start, end - start);
        if (part == L"..") {
            if (parts.size() > fixedParts) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) result += L'\\';
        result += parts[i];
    }
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int size = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), units);
    return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int size = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

std::string Utf8FromWin32Path(std::wstring_view win32Path) {
    if (win32Path.starts_with(LR"(\\?\UNC\)")) return "\\" + Utf8FromWide(win32Path.substr(7));
    if (win32Path.starts_with(kVerbatim)) return Utf8FromWide(win32Path.substr(kVerbatim.size()));
    return Utf8FromWide(win32Path);
}

std::wstring Win32Path(std::string_view utf8Path) {
    std::wstring path = WideFromUtf8(utf8Path);
    if (path.empty()) return path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    // Already verbatim, or a device such as \\.\pipe\x: the system takes those as they are.
    if (path.starts_with(kVerbatim) || path.starts_with(LR"(\\.\)")) return path;

    const bool trailingSeparator = path.back() == L'\\';
    const auto driveAbsolute = [](const std::wstring &p) {
        return p.size() >= 3 && IsDriveLetter(p[0]) && p[1] == L':' && p[2] == L'\\';
    };
    if (!driveAbsolute(path) && !path.starts_with(LR"(\\)")) {
        if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') {
            path = FullPathOf(path);
        } else if (path.starts_with(L"\\")) {
            path = CurrentFolder().substr(0, 2) + path;  // rooted on the current drive
        } else {
            path = CurrentFolder() + L"\\" + path;
        }
        if (path.starts_with(kVerbatim)) return path;
    }

    std::wstring result(kVerbatim);
    if (path.starts_with(LR"(\\)")) {
        result += L"UNC\\";
        AppendNormalParts(result, std::wstring_view(path).substr(2), 2);
    } else if (driveAbsolute(path)) {
        result += path.substr(0, 3);
        AppendNormalParts(result, std::wstring_view(path).substr(3), 0);
    } else {
        return path;  // no usable current folder; the call will say what is wrong
    }
    if (trailingSeparator && result.back() != L'\\') result += L'\\';
    return result;
}

}  // namespace tarvelin
