#include "conversion/header/field_values.h"

#include "conversion/header/encoded_words.h"
#include "conversion/header/gmime_handles.h"
#include "conversion/header/plain_sender.h"

namespace tarvelin {

namespace {

bool IsLinearSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// ASCII without NUL and without "=?": the parser's decoding leaves such unfolded text as it is.
bool IsPlainText(std::string_view raw) {
    for (const char c : raw)
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) return false;
    return raw.find("=?") == std::string_view::npos;
}

// What the parser's unfolding gives: no white space at either end, no line breaks.
std::string Unfolded(std::string_view raw) {
    while (!raw.empty() && IsLinearSpace(raw.front())) raw.remove_prefix(1);
    while (!raw.empty() && IsLinearSpace(raw.back())) raw.remove_suffix(1);
    std::string text;
    text.reserve(raw.size());
    for (const char c : raw)
        if (c != '\r' && c != '\n') text.push_back(c);
    return text;
}

}  // namespace

std::string DecodedValue(std::string_view raw, GMimeParserOptions *options) {
    if (std::string unfolded = Unfolded(raw); IsPlainText(unfolded)) return unfolded;
    const std::string rawText = JoinAdjacentEncodedWords(raw);
    auto unfolded = gmime::TakeOwned(g_mime_utils_header_unfold(rawText.c_str()));
    auto decoded = gmime::TakeOwned(g_mime_utils_header_decode_text(options, unfolded.get()));
    return decoded ? decoded.get() : "";
}

std::string WrittenAddresses(InternetAddressList *list) {
    std::string text;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (i > 0) text += ", ";
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const char *addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
            if (addr != nullptr && DomainWrittenAsIs(addr)) {
                const char *name = internet_address_get_name(address);
                if (name != nullptr && *name != '\0') {
                    auto quoted = gmime::TakeOwned(g_mime_utils_quote_string(name));
                    text += quoted.get();
                    text += " <";
                    text += addr;
                    text += '>';
                } else {
                    text += addr;
                }
                continue;
            }
        }
        auto written = gmime::TakeOwned(internet_address_to_string(address, nullptr, FALSE));
        if (written) text += written.get();
    }
    return text;
}

}  // namespace tarvelin
