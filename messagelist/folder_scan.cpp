#include "messagelist/folder_scan.h"

// Not written yet.
