// Where the help page lives: next to the program, in the layout of its platform.
#pragma once

#include <QString>

namespace tarvelin {

// The file URL of the help page: on Windows <folder of the program>/help/index.html, as the release
// zip lays it out; elsewhere <folder of the program>/../share/tarvelin/help/index.html. The same
// layout holds in the build tree and in an installed prefix.
QString HelpAddress();

}  // namespace tarvelin
