// The hidden name a copy is staged under until it is complete.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// ".tarvelin-" and 12 random letters and digits, ending in ".part", in the folder (the current
// one when empty): short and independent of the final name, which may already be near the name
// limit. Another process's names differ, but only an exclusive create makes one ours.
std::string TemporaryNameIn(const std::string &folder);

// Whether a file name has the form TemporaryNameIn gives: ours, left by a run that was stopped
// before it could remove it.
bool IsTemporaryName(std::string_view name);

}  // namespace tarvelin
