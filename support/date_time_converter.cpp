#include "support/date_time_converter.h"
