#include "platform/directory_lister.h"

// Not written yet.
