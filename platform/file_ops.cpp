#include "platform/file_ops.h"

// Not written yet.
