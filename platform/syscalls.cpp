#include "platform/syscalls.h"

// Not written yet.
