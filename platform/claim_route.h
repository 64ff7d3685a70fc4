#pragma once

namespace tarvelin {

// How copies get their final names in a folder. The first claim there learns which way the file
// system takes; the caller keeps it, so later claims skip the calls it refuses (a network share
// refuses the no-replace rename on every message otherwise).
enum class ClaimRoute { NoReplaceRename, HardLink, ExclusiveCreate };

}  // namespace tarvelin
