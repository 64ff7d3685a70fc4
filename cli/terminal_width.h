// The width of the terminal that shows the progress line.
#pragma once

namespace tarvelin {

// The columns of the terminal on stderr as the system reports them now; else COLUMNS from the
// environment; else 80.
int TerminalColumns();

}  // namespace tarvelin
