// The application's report hook. The engine's only message is the count of key nodes left open
// at close; the default hook ignores both texts and returns 0.
#pragma once

#include <cstdint>

namespace hdb {

using ReportMessageHook = int32_t (*)(const char* caption, const char* text);
void SetReportMessageHook(ReportMessageHook hook);
int32_t ReportMessage(const char* caption, const char* text);

}  // namespace hdb
