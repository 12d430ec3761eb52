// How a database is opened: the mode argument of OpenDatabase.
#pragma once

#include <cstdint>

namespace hdb {

// ModeCreate empties (or makes) the file; ModeReadWrite opens it for changes, making it when it
// is missing; ModeReadOnly opens an existing file and changes nothing.
enum DatabaseMode : int32_t { ModeCreate = 0, ModeReadOnly = 1, ModeReadWrite = 2 };

}  // namespace hdb
