// The file layer the registry opens its store through: every call goes to SQLite's own file
// system, except a sync of a file that the connection has not written since its last successful
// sync, which has nothing to make durable and is skipped.
#pragma once

#include <sqlite3.h>

namespace tovarine::registry {

// The layer's name for sqlite3_open_v2, registered once per process; null when it cannot be
// (SQLite's own file system is then used).
const char *SyncVfsName();

}  // namespace tovarine::registry
