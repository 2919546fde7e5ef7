// The current UTC time as seconds and microseconds since 1970.
#pragma once

#include "support/time_val.h"

TimeVal GetTimeOfDay();
