// The counters' display format (log/count_text.h, which the Log Buffer's lines use too).
#pragma once

#include "log/count_text.h"

namespace corvane::relay {

using log::CountText;
using log::FormatCount;

}  // namespace corvane::relay
