#include "messagelist/path_logger.h"

// Not written yet.
