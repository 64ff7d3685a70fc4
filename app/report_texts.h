// The texts of the window's boxes: the clear question, the count after a folder scan, the list
// of messages a run could not convert and a refused output folder. Plain text, so that they are
// tested without a window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "platform/directory_lister.h"
#include "platform/system.h"

namespace tarvelin {

// Problems listed one per line in a box before the rest are only counted.
inline constexpr std::size_t kProblemsListed = 10;

std::string ClearQuestionText();

// "N Files Added to List.", then the folders that could not be read, each with its reason.
std::string ScanCountText(std::int64_t added, const std::vector<UnreadFolder> &unreadFolders);

// "Completed !", then how many messages failed and each one with its reason.
std::string RunFailureText(const ConversionReport &report);

// A chosen output folder that no message could be saved in, or that another run writes to.
std::string OutputFolderFailureText(const std::string &reason);

}  // namespace tarvelin
