#include "conversion/naming.h"

// Not written yet.
