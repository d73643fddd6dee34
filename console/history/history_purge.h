// The retention of the history file: rows older than the retention period
// are deleted and the pages they held given back to the file system
// (auto_vacuum=INCREMENTAL, then a checkpoint that truncates the file).
// The latest value of each variable, the device names and the scenes are
// kept, so a later change still knows the value before it: the caller
// writes the latest values up to the last change first (the purge may
// delete changes they do not hold yet).
//
// Threads: the thread that owns the connection.
#ifndef VERU_CONSOLE_HISTORY_HISTORY_PURGE_H
#define VERU_CONSOLE_HISTORY_HISTORY_PURGE_H

#include <sqlite3.h>

#include <cstdint>
#include <string>

// How often the recorder purges, at most.
constexpr int64_t kHistoryPurgeEverySeconds = 3600;

// Deletes the changes, scene changes and connection marks from before
// tBefore, in one transaction, and shrinks the file. False, with *pReason
// set, when that failed (nothing was deleted then).
bool PurgeHistory(sqlite3* pDatabase, int64_t tBefore, std::string* pReason);

#endif  // VERU_CONSOLE_HISTORY_HISTORY_PURGE_H
