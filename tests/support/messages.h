// Messages and output folders as the runs in the tests make and expect them.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/temp_dir.h"

namespace tarvelin::testing {

// The message as it stands in an mbox file: after its separator line, in the mboxrd form.
std::string AsInMbox(std::int64_t unixSeconds, const std::string &message);

// A message of three header fields and a body ("Body of <subject>" when none is given).
std::string Message(const std::string &subject, const std::string &from = "Ann <ann@x.org>",
                    const std::string &date = "Sun, 1 Jul 2012 10:00:00 +0000", const std::string &body = "");

// The output folder below `out` that mirrors the folder `relative` below `src`.
std::string Mirrored(const TempDir &out, const TempDir &src, const std::string &relative = "");

}  // namespace tarvelin::testing
