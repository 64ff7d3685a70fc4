#include "conversion/mail_message.h"

// Not written yet.
