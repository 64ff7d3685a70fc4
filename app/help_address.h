// Where the help page lives: next to the program, in the share folder of its prefix.
#pragma once

#include <QString>

namespace tarvelin {

// The file URL of <folder of the program>/../share/tarvelin/help/index.html. The same layout holds
// in the build tree and in an installed prefix.
QString HelpAddress();

}  // namespace tarvelin
