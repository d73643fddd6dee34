// Opening the history file: its header looked at first, its schema made or
// migrated, its pragmas set.
#include "console/history/history_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

// Both are made with the table, and again by the writer when it fills an
// empty table (history_writer.cpp).
#define CHANGE_INDEXES                                           \
  "CREATE INDEX change_by_device ON change(device, time);"       \
  "CREATE INDEX change_by_time ON change(time);"

const char kHistoryChangeIndexes[] = CHANGE_INDEXES;
const char kHistoryDropChangeIndexes[] =
    "DROP INDEX change_by_device; DROP INDEX change_by_time;";

namespace {

// Each step takes the schema from its index to the next version; step 0
// makes the tables of a new file.
const char* const kMigrations[] = {
    "CREATE TABLE change(time INTEGER NOT NULL, unit INTEGER NOT NULL,"
    " device INTEGER NOT NULL, variable TEXT NOT NULL, previous TEXT,"
    " value TEXT NOT NULL);"
    CHANGE_INDEXES
    "CREATE TABLE latest(unit INTEGER NOT NULL, device INTEGER NOT NULL,"
    " variable TEXT NOT NULL, value TEXT NOT NULL,"
    " PRIMARY KEY(unit, device, variable)) WITHOUT ROWID;"
    "CREATE TABLE device(unit INTEGER NOT NULL, device INTEGER NOT NULL,"
    " name TEXT NOT NULL, PRIMARY KEY(unit, device)) WITHOUT ROWID;"
    "CREATE TABLE scene(unit INTEGER NOT NULL, scene INTEGER NOT NULL,"
    " name TEXT NOT NULL, active INTEGER NOT NULL,"
    " PRIMARY KEY(unit, scene)) WITHOUT ROWID;"
    "CREATE TABLE scene_change(time INTEGER NOT NULL, unit INTEGER NOT NULL,"
    " scene INTEGER NOT NULL, active INTEGER NOT NULL);"
    "CREATE INDEX scene_change_by_time ON scene_change(time);"
    "CREATE TABLE connection(time INTEGER NOT NULL, unit INTEGER NOT NULL,"
    " what TEXT NOT NULL);"
    "CREATE INDEX connection_by_time ON connection(time);",
    // Version 2: the latest values one row per device (a JSON object)
    // instead of one per variable, written now and then: they hold the
    // changes up to latest_upto's, the change table the later ones.
    "CREATE TABLE latest_of_device(unit INTEGER NOT NULL,"
    " device INTEGER NOT NULL, variables TEXT NOT NULL,"
    " PRIMARY KEY(unit, device)) WITHOUT ROWID;"
    "INSERT INTO latest_of_device(unit, device, variables)"
    " SELECT unit, device, json_group_object(variable, value) FROM latest"
    " GROUP BY unit, device;"
    "DROP TABLE latest;"
    "ALTER TABLE latest_of_device RENAME TO latest;"
    "CREATE TABLE latest_upto(change INTEGER NOT NULL);"
    "INSERT INTO latest_upto(change)"
    " SELECT ifnull(max(rowid), 0) FROM change;",
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kHistoryVersion,
              "one migration step per schema version");

const char kSqliteMagic[] = "SQLite format 3";  // and its NUL: 16 bytes
constexpr int kHeaderSize = 100;
constexpr int kUserVersionOffset = 60;
constexpr int kApplicationIdOffset = 68;

int BigEndian32(const unsigned char* pBytes) {
  return static_cast<int>((static_cast<uint32_t>(pBytes[0]) << 24) |
                          (static_cast<uint32_t>(pBytes[1]) << 16) |
                          (static_cast<uint32_t>(pBytes[2]) << 8) |
                          static_cast<uint32_t>(pBytes[3]));
}

// What is at the path, as far as its header tells.
enum class Found { kNothing, kEmpty, kOurs, kRefused };

// Looks at the path without changing anything there. kOurs sets
// *pVersion; kRefused sets *pReason.
Found LookAt(const std::string& sPath, int* pVersion, std::string* pReason) {
  struct stat _Stat;
  if (stat(sPath.c_str(), &_Stat) != 0) {
    if (errno == ENOENT) return Found::kNothing;
    *pReason = sPath + ": " + strerror(errno);
    return Found::kRefused;
  }
  if (S_ISDIR(_Stat.st_mode)) {
    *pReason = sPath + ": is a folder, not a history file";
    return Found::kRefused;
  }
  if (!S_ISREG(_Stat.st_mode)) {
    *pReason = sPath + ": is not a regular file";
    return Found::kRefused;
  }
  if (_Stat.st_size == 0) return Found::kEmpty;
  int iFile = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (iFile < 0) {
    *pReason = sPath + ": " + strerror(errno);
    return Found::kRefused;
  }
  unsigned char cHeader[kHeaderSize];
  ssize_t iRead = read(iFile, cHeader, sizeof(cHeader));
  close(iFile);
  if (iRead != kHeaderSize ||
      memcmp(cHeader, kSqliteMagic, sizeof(kSqliteMagic)) != 0) {
    *pReason = sPath + ": is not a history file of veru-console";
    return Found::kRefused;
  }
  if (BigEndian32(cHeader + kApplicationIdOffset) != kHistoryApplicationId) {
    *pReason = sPath + ": is another program's SQLite database";
    return Found::kRefused;
  }
  *pVersion = BigEndian32(cHeader + kUserVersionOffset);
  if (*pVersion > kHistoryVersion) {
    *pReason = sPath + ": has history version " + std::to_string(*pVersion) +
               ", newer than this program's " +
               std::to_string(kHistoryVersion);
    return Found::kRefused;
  }
  return Found::kOurs;
}

int PragmaInt(sqlite3* pDatabase, const char* sPragma) {
  sqlite3_stmt* pStatement = nullptr;
  int iValue = -1;
  if (sqlite3_prepare_v2(pDatabase, sPragma, -1, &pStatement, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(pStatement) == SQLITE_ROW) {
    iValue = sqlite3_column_int(pStatement, 0);
  }
  sqlite3_finalize(pStatement);
  return iValue;
}

// Takes the schema from iVersion to kHistoryVersion in one transaction (a
// new file: from 0, with its application id).
bool Migrate(sqlite3* pDatabase, int iVersion, std::string* pReason) {
  if (!RunHistorySql(pDatabase, "BEGIN IMMEDIATE", pReason)) return false;
  std::string sSql = "PRAGMA application_id=" +
                     std::to_string(kHistoryApplicationId) + ";";
  for (int i = iVersion; i < kHistoryVersion; ++i) sSql += kMigrations[i];
  sSql += "PRAGMA user_version=" + std::to_string(kHistoryVersion) + ";";
  if (!RunHistorySql(pDatabase, sSql.c_str(), pReason) ||
      !RunHistorySql(pDatabase, "COMMIT", pReason)) {
    RunHistorySql(pDatabase, "ROLLBACK");
    return false;
  }
  return true;
}

sqlite3* Refuse(sqlite3* pDatabase, const std::string& sReason,
                std::string* pReason) {
  *pReason = sReason;
  sqlite3_close_v2(pDatabase);
  return nullptr;
}

}  // namespace

bool RunHistorySql(sqlite3* pDatabase, const char* sSql, std::string* pReason) {
  char* sError = nullptr;
  if (sqlite3_exec(pDatabase, sSql, nullptr, nullptr, &sError) == SQLITE_OK) {
    return true;
  }
  if (pReason != nullptr) {
    *pReason = sError != nullptr ? sError : sqlite3_errmsg(pDatabase);
  }
  sqlite3_free(sError);
  return false;
}

sqlite3* OpenHistoryForWriting(const std::string& sPath, std::string* pReason) {
  int iVersion = 0;
  Found eFound = LookAt(sPath, &iVersion, pReason);
  if (eFound == Found::kRefused) return nullptr;
  if (eFound == Found::kNothing) {
    // Made here, so that it is the owner's alone from its first byte.
    int iFile = open(sPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                     S_IRUSR | S_IWUSR);
    if (iFile < 0) {
      *pReason = sPath + ": cannot be made: " + strerror(errno);
      return nullptr;
    }
    close(iFile);
  }
  bool bNew = eFound != Found::kOurs;
  if (bNew && chmod(sPath.c_str(), S_IRUSR | S_IWUSR) != 0) {
    *pReason = sPath + ": " + strerror(errno);
    return nullptr;
  }
  sqlite3* pDatabase = nullptr;
  if (sqlite3_open_v2(sPath.c_str(), &pDatabase, SQLITE_OPEN_READWRITE,
                      nullptr) != SQLITE_OK) {
    return Refuse(pDatabase, sPath + ": " + sqlite3_errmsg(pDatabase), pReason);
  }
  if (sqlite3_db_readonly(pDatabase, "main") != 0) {
    return Refuse(pDatabase, sPath + ": cannot be written", pReason);
  }
  sqlite3_busy_timeout(pDatabase, kHistoryBusyTimeoutMs);
  std::string sWhy;
  // Before the first table, or it has no effect.
  if (bNew && !RunHistorySql(pDatabase, "PRAGMA auto_vacuum=INCREMENTAL", &sWhy)) {
    return Refuse(pDatabase, sPath + ": " + sWhy, pReason);
  }
  if (!RunHistorySql(pDatabase,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL",
                     &sWhy)) {
    return Refuse(pDatabase, sPath + ": " + sWhy, pReason);
  }
  // The header may have been read while another writer changed it: ask
  // SQLite again, under its lock.
  if (!bNew) {
    if (PragmaInt(pDatabase, "PRAGMA application_id") != kHistoryApplicationId) {
      return Refuse(pDatabase, sPath + ": is another program's SQLite database",
                    pReason);
    }
    iVersion = PragmaInt(pDatabase, "PRAGMA user_version");
    if (iVersion > kHistoryVersion) {
      return Refuse(pDatabase, sPath + ": has a newer history version",
                    pReason);
    }
  }
  if (iVersion < kHistoryVersion && !Migrate(pDatabase, iVersion, &sWhy)) {
    return Refuse(pDatabase, sPath + ": " + sWhy, pReason);
  }
  return pDatabase;
}

sqlite3* OpenHistoryForReading(const std::string& sPath, std::string* pReason) {
  int iVersion = 0;
  Found eFound = LookAt(sPath, &iVersion, pReason);
  if (eFound == Found::kRefused) return nullptr;
  if (eFound != Found::kOurs) {
    *pReason = sPath + ": no history recorded";
    if (eFound == Found::kNothing) *pReason = sPath + ": " + strerror(ENOENT);
    return nullptr;
  }
  sqlite3* pDatabase = nullptr;
  if (sqlite3_open_v2(sPath.c_str(), &pDatabase, SQLITE_OPEN_READONLY,
                      nullptr) != SQLITE_OK) {
    return Refuse(pDatabase, sPath + ": " + sqlite3_errmsg(pDatabase), pReason);
  }
  sqlite3_busy_timeout(pDatabase, kHistoryBusyTimeoutMs);
  // Every version so far keeps the changes in the same tables: an older
  // file not yet brought up to date by a recording console reads as well.
  int iFileVersion = PragmaInt(pDatabase, "PRAGMA user_version");
  if (iFileVersion < 1 || iFileVersion > kHistoryVersion) {
    return Refuse(pDatabase,
                  sPath + ": has a history version this program cannot read",
                  pReason);
  }
  return pDatabase;
}
