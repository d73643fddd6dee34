// The history file: an SQLite database of this program (history.db in the
// working folder by default) that keeps every change of the home. This file
// knows its schema and how to open it without ever touching a file that is
// not ours.
//
// The schema (version kHistoryVersion; the file's application_id is
// kHistoryApplicationId, its user_version the schema version):
//
//   change(time, unit, device, variable, previous, value)
//       one row per change of a device's variable, state ("state") or
//       comment ("comment"); time in seconds since the epoch (the time the
//       reply was merged); previous is NULL for the first value recorded.
//       Indexes: change_by_device(device, time), change_by_time(time).
//   latest(unit, device, variables)
//       the last value recorded for each variable (state and comment too)
//       of the device, as one JSON object of names and values, so that a
//       restart records only what changed meanwhile. It holds the changes
//       up to the rowid in latest_upto(change), a table of one row; the
//       changes after it are read from the change table: so the latest
//       values are written now and then (latest_values.h), not with every
//       reply. Version 1 kept one row per variable, written with each
//       change: latest(unit, device, variable, value).
//   device(unit, device, name)      the name each device last had.
//   scene(unit, scene, name, active) each scene's name and last flag.
//   scene_change(time, unit, scene, active)  each change of the flag.
//   connection(time, unit, what)    'lost' and 'restored': the gaps.
//
// A file that is there is looked at byte by byte (its header) before SQLite
// opens it: a folder, a FIFO, a text file, another program's SQLite database
// or a newer schema is refused, and the file is left as it was. A new file
// is made readable by its owner only, with auto_vacuum=INCREMENTAL, and
// then kept in WAL mode with synchronous=NORMAL and a busy timeout, so a
// reader in another process and the writer wait for each other instead of
// failing.
//
// Threads: free functions; a connection they return is used by one thread
// at a time (its owner's).
#ifndef VERU_CONSOLE_HISTORY_HISTORY_FILE_H
#define VERU_CONSOLE_HISTORY_HISTORY_FILE_H

#include <sqlite3.h>

#include <string>

// "Veru" in the file's header.
constexpr int kHistoryApplicationId = 0x56657275;
constexpr int kHistoryVersion = 2;
// The name of the file in the working folder when --history names none.
constexpr const char kHistoryFileName[] = "history.db";
// How long a statement waits for another process's lock.
constexpr int kHistoryBusyTimeoutMs = 5000;

// The statements that make the change table's two indexes, and that drop
// them.
extern const char kHistoryChangeIndexes[];
extern const char kHistoryDropChangeIndexes[];

// Opens sPath for recording, creating it when there is nothing at the path,
// and migrating an older schema in one transaction. The connection, or null
// with *pReason set to why (one line without its end, naming the file):
// nothing is written to a file that is refused.
sqlite3* OpenHistoryForWriting(const std::string& sPath, std::string* pReason);

// Opens sPath to read it (the history command): null, with *pReason set,
// when there is no such file, or it is not a history file this program can
// read.
sqlite3* OpenHistoryForReading(const std::string& sPath, std::string* pReason);

// Runs one or more statements without results: true when all ran; else
// *pReason (if given) says why.
bool RunHistorySql(sqlite3* pDatabase, const char* sSql,
                   std::string* pReason = nullptr);

#endif  // VERU_CONSOLE_HISTORY_HISTORY_FILE_H
