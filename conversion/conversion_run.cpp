#include "conversion/conversion_run.h"

// Not written yet.
