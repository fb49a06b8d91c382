#pragma once

// ISO 8601 date text lives with the Time type.
#include "base/time.h"
