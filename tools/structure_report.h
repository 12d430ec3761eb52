// What verify and stat print about a walked database, as text lines or as JSON.
#pragma once

#include <cstdint>
#include <string>

#include "tools/structure_scan.h"

namespace tools {

class OutputSink;

// One line per problem ("where: what"), then a summary line naming the file; or one JSON object.
bool WriteVerifyReport(const ScanResult& scan, const std::string& file, bool json, OutputSink& out);

// 0 when the walk found nothing wrong, 1 when it found a problem.
int32_t VerifyExitCode(const ScanResult& scan);

// The header's fields and what the walk counted, "name: value" a line; or one JSON object.
// `mirror` is the mirror's path when one lies beside the file, else "".
bool WriteStatReport(const ScanResult& scan, const std::string& file, uint64_t fileSize, const std::string& mirror,
                     bool json, OutputSink& out);

}  // namespace tools
