#include "hdb/mirror.h"

// Placeholders until mirror copies are built.
int32_t CopyToMirror(const char*) { return 0; }
int32_t DeleteMirror(const char*) { return 0; }
