// Joins adjacent RFC 2047 encoded words before GMime decodes a header value.
//
// GMime 3.2.13 (Debian 12) decodes a run of B-encoded words in one charset as one base64 stream,
// so a word that ends in "=" padding cuts off every word after it ("Grüße " instead of "Grüße aus
// Köln"). Decoding each word's payload on its own and handing GMime the joined bytes as a single
// word gives the right text with that release and with fixed ones alike; GMime still does the
// charset conversion, its fallbacks and everything that is not a run of encoded words.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// The text with each run of two or more encoded words that share a charset (separated by
// nothing but white space, folds included) replaced by one B-encoded word in that charset that
// holds their decoded payloads in order. The white space between the words goes, as RFC 2047
// asks. Single words, malformed words and all other text are left as they are.
std::string JoinAdjacentEncodedWords(std::string_view text);

}  // namespace tarvelin
