#include "cli/windows_console.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/windows/wide_text.h"

namespace tarvelin {

namespace {

constexpr std::size_t kFlushAt = 4096;

// The length of the longest prefix that ends on a whole UTF-8 sequence.
std::size_t WholeSequences(const std::string &bytes) {
    std::size_t end = bytes.size();
    std::size_t back = 0;
    while (back < 3 && back < end && (static_cast<unsigned char>(bytes[end - 1 - back]) & 0xC0) == 0x80) ++back;
    if (back == end) return end;
    const unsigned char lead = static_cast<unsigned char>(bytes[end - 1 - back]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length > back + 1 ? end - 1 - back : end;
}

}  // namespace

std::vector<std::string> WideCommandLineArguments() {
    int count = 0;
    wchar_t **const words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; words != nullptr && i < count; ++i) args.push_back(Utf8FromWide(words[i]));
    ::LocalFree(words);
    return args;
}

ConsoleBuffer::ConsoleBuffer(unsigned long standardHandle) : handle_(::GetStdHandle(standardHandle)) {
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle_, &mode) != 0;
}

ConsoleBuffer::~ConsoleBuffer() { Flush(); }

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_ += traits_type::to_char_type(c);
    // A line ends a progress redraw or a report; either should show at once.
    if (c == '\n' || c == '\r' || pending_.size() >= kFlushAt) {
        if (!Flush()) return traits_type::eof();
    }
    return c;
}

int ConsoleBuffer::sync() { return Flush() ? 0 : -1; }

bool ConsoleBuffer::Flush() {
    if (pending_.empty() || handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return true;
    bool ok = true;
    if (console_) {
        // A sequence split across two writes would show as two wrong characters.
        const std::size_t whole = WholeSequences(pending_);
        const std::wstring wide = WideFromUtf8(std::string_view(pending_).substr(0, whole));
        DWORD written = 0;
        ok = wide.empty() ||
             ::WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != 0;
        pending_.erase(0, whole);
    } else {
        DWORD written = 0;
        ok = ::WriteFile(handle_, pending_.data(), static_cast<DWORD>(pending_.size()), &written, nullptr) != 0;
        pending_.clear();
    }
    return ok;
}

}  // namespace tarvelin
