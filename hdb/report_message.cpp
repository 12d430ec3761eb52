#include "hdb/report_message.h"

namespace hdb {

namespace {

int32_t IgnoreReport(const char*, const char*) { return 0; }
ReportMessageHook g_reportHook = IgnoreReport;

}  // namespace

void SetReportMessageHook(ReportMessageHook hook) { g_reportHook = hook ? hook : IgnoreReport; }
int32_t ReportMessage(const char* caption, const char* text) { return g_reportHook(caption, text); }

}  // namespace hdb
