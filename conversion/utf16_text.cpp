#include "conversion/utf16_text.h"

// Not written yet.
