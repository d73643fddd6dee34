// Old rows out, free pages back.
#include "console/history/history_purge.h"

#include "console/history/history_file.h"

bool PurgeHistory(sqlite3* pDatabase, int64_t tBefore, std::string* pReason) {
  std::string sBefore = std::to_string(tBefore);
  std::string sSql = "BEGIN IMMEDIATE;"
                     "DELETE FROM change WHERE time < " + sBefore + ";"
                     "DELETE FROM scene_change WHERE time < " + sBefore + ";"
                     "DELETE FROM connection WHERE time < " + sBefore + ";"
                     // A change table emptied numbers its rows from 1
                     // again: the latest values' mark follows it down.
                     "UPDATE latest_upto SET change = min(change,"
                     " (SELECT ifnull(max(rowid), 0) FROM change));"
                     "COMMIT;";
  if (!RunHistorySql(pDatabase, sSql.c_str(), pReason)) {
    RunHistorySql(pDatabase, "ROLLBACK");
    return false;
  }
  // The free pages go to the end of the file, and the checkpoint copies
  // the shorter file back from the log and truncates both.
  return RunHistorySql(pDatabase,
                       "PRAGMA incremental_vacuum; "
                       "PRAGMA wal_checkpoint(TRUNCATE);",
                       pReason);
}
