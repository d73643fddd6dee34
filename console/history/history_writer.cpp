// One merged reply into the history file: one transaction, prepared
// statements.
#include "console/history/history_writer.h"

#include "console/history/history_file.h"
#include "console/history/latest_values.h"

namespace {

// A batch of at least this many changes into an empty change table (a
// new file's first full reply) is written as a bulk load.
constexpr size_t kBulkChanges = 1000;
// A bulk load's page cache (64 MiB at most, a 10,000-device home's first
// reply fits), and the usual one (2 MiB) afterwards.
const char kBulkCacheSize[] = "PRAGMA cache_size=-65536";
const char kCacheSize[] = "PRAGMA cache_size=-2000";
// The rows of one INSERT of many changes.
constexpr size_t kChangesPerInsert = 16;

// "INSERT INTO change(...) VALUES(?, ...), ..." for iRows rows.
std::string InsertChangesSql(size_t iRows) {
  std::string sSql =
      "INSERT INTO change(time, unit, device, variable, previous, value)"
      " VALUES";
  for (size_t i = 0; i < iRows; ++i) {
    sSql += i == 0 ? "(?, ?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?, ?)";
  }
  return sSql;
}

void BindText(sqlite3_stmt* pStatement, int iColumn, const std::string& sText) {
  sqlite3_bind_text(pStatement, iColumn, sText.data(),
                    static_cast<int>(sText.size()), SQLITE_STATIC);
}

// Runs a prepared statement that gives no rows, and makes it ready again.
bool Step(sqlite3_stmt* pStatement) {
  int iResult = sqlite3_step(pStatement);
  sqlite3_reset(pStatement);
  sqlite3_clear_bindings(pStatement);
  return iResult == SQLITE_DONE;
}

std::string Column(sqlite3_stmt* pStatement, int iColumn) {
  const unsigned char* sText = sqlite3_column_text(pStatement, iColumn);
  int iBytes = sqlite3_column_bytes(pStatement, iColumn);
  return sText != nullptr ? std::string(reinterpret_cast<const char*>(sText),
                                        static_cast<size_t>(iBytes))
                          : std::string();
}

}  // namespace

HistoryWriter::HistoryWriter(sqlite3* pDatabase) : m_pDatabase(pDatabase) {}

HistoryWriter::~HistoryWriter() {
  for (sqlite3_stmt* pStatement :
       {m_pInsertChange, m_pInsertChanges, m_pSetLatest, m_pMarkLatest,
        m_pSetDevice,
        m_pSetScene, m_pInsertScene, m_pInsertConnection, m_pBegin, m_pCommit}) {
    sqlite3_finalize(pStatement);
  }
  sqlite3_close_v2(m_pDatabase);
}

bool HistoryWriter::Prepare(std::string* pReason) {
  const std::string sInsertOne = InsertChangesSql(1);
  const std::string sInsertMany = InsertChangesSql(kChangesPerInsert);
  const std::pair<sqlite3_stmt**, const char*> kStatements[] = {
      {&m_pInsertChange, sInsertOne.c_str()},
      {&m_pInsertChanges, sInsertMany.c_str()},
      {&m_pSetLatest,
       "INSERT OR REPLACE INTO latest(unit, device, variables)"
       " VALUES(?1, ?2, ?3)"},
      {&m_pMarkLatest,
       "UPDATE latest_upto SET change = (SELECT ifnull(max(rowid), 0)"
       " FROM change)"},
      {&m_pSetDevice,
       "INSERT OR REPLACE INTO device(unit, device, name) VALUES(?1, ?2, ?3)"},
      {&m_pSetScene,
       "INSERT OR REPLACE INTO scene(unit, scene, name, active)"
       " VALUES(?1, ?2, ?3, ?4)"},
      {&m_pInsertScene,
       "INSERT INTO scene_change(time, unit, scene, active)"
       " VALUES(?1, ?2, ?3, ?4)"},
      {&m_pInsertConnection,
       "INSERT INTO connection(time, unit, what) VALUES(?1, ?2, ?3)"},
      {&m_pBegin, "BEGIN IMMEDIATE"},
      {&m_pCommit, "COMMIT"},
  };
  for (const auto& statement : kStatements) {
    if (sqlite3_prepare_v3(m_pDatabase, statement.second, -1,
                           SQLITE_PREPARE_PERSISTENT, statement.first,
                           nullptr) != SQLITE_OK) {
      *pReason = sqlite3_errmsg(m_pDatabase);
      return false;
    }
  }
  return true;
}

bool HistoryWriter::ReadLatest(RecordedHome* pHome, std::string* pReason) {
  struct Query {
    const char* sSql;
    void (*fRow)(sqlite3_stmt*, RecordedHome*);
  };
  const Query kQueries[] = {
      {"SELECT unit, device, variables FROM latest",
       [](sqlite3_stmt* pRow, RecordedHome* pInto) {
         auto iKey = std::make_pair(sqlite3_column_int(pRow, 0),
                                    sqlite3_column_int(pRow, 1));
         // A row that cannot be read is as if nothing was recorded: the
         // next full reply records the device's values again.
         RecordedDevice& _Device = pInto->mapDevices[iKey];
         if (!ReadLatestValues(Column(pRow, 2), &_Device.mapValues)) {
           _Device.mapValues.clear();
         }
       }},
      // The changes after those the latest table holds, oldest first.
      {"SELECT unit, device, variable, value FROM change"
       " WHERE rowid > (SELECT change FROM latest_upto) ORDER BY rowid",
       [](sqlite3_stmt* pRow, RecordedHome* pInto) {
         auto iKey = std::make_pair(sqlite3_column_int(pRow, 0),
                                    sqlite3_column_int(pRow, 1));
         pInto->mapDevices[iKey].mapValues[Column(pRow, 2)] = Column(pRow, 3);
         pInto->setUnwritten.insert(iKey);
       }},
      {"SELECT unit, device, name FROM device",
       [](sqlite3_stmt* pRow, RecordedHome* pInto) {
         auto iKey = std::make_pair(sqlite3_column_int(pRow, 0),
                                    sqlite3_column_int(pRow, 1));
         pInto->mapDevices[iKey].sName = Column(pRow, 2);
       }},
      {"SELECT unit, scene, name, active FROM scene",
       [](sqlite3_stmt* pRow, RecordedHome* pInto) {
         auto iKey = std::make_pair(sqlite3_column_int(pRow, 0),
                                    sqlite3_column_int(pRow, 1));
         RecordedScene& _Scene = pInto->mapScenes[iKey];
         _Scene.sName = Column(pRow, 2);
         _Scene.bActive = sqlite3_column_int(pRow, 3) != 0;
       }},
  };
  for (const Query& _Query : kQueries) {
    sqlite3_stmt* pStatement = nullptr;
    if (sqlite3_prepare_v2(m_pDatabase, _Query.sSql, -1, &pStatement,
                           nullptr) != SQLITE_OK) {
      *pReason = sqlite3_errmsg(m_pDatabase);
      return false;
    }
    int iResult;
    while ((iResult = sqlite3_step(pStatement)) == SQLITE_ROW) {
      _Query.fRow(pStatement, pHome);
    }
    sqlite3_finalize(pStatement);
    if (iResult != SQLITE_DONE) {
      *pReason = sqlite3_errmsg(m_pDatabase);
      return false;
    }
  }
  return true;
}

bool HistoryWriter::ChangeTableEmpty() {
  sqlite3_stmt* pStatement = nullptr;
  bool bEmpty = false;
  if (sqlite3_prepare_v2(m_pDatabase,
                         "SELECT NOT EXISTS (SELECT 1 FROM change)", -1,
                         &pStatement, nullptr) == SQLITE_OK &&
      sqlite3_step(pStatement) == SQLITE_ROW) {
    bEmpty = sqlite3_column_int(pStatement, 0) != 0;
  }
  sqlite3_finalize(pStatement);
  return bEmpty;
}

bool HistoryWriter::WriteRows(const HistoryBatch& _Batch) {
  // Most go kChangesPerInsert at a time: one statement's run for many
  // rows.
  const std::vector<DeviceChange>& vecChanges = _Batch.vecChanges;
  size_t iNext = 0;
  while (iNext < vecChanges.size()) {
    bool bMany = vecChanges.size() - iNext >= kChangesPerInsert;
    sqlite3_stmt* pInsert = bMany ? m_pInsertChanges : m_pInsertChange;
    size_t iRows = bMany ? kChangesPerInsert : 1;
    for (size_t iRow = 0; iRow < iRows; ++iRow) {
      const DeviceChange& _Change = vecChanges[iNext++];
      int iFirst = static_cast<int>(iRow) * 6;
      sqlite3_bind_int64(pInsert, iFirst + 1, _Change.tTime);
      sqlite3_bind_int(pInsert, iFirst + 2, _Change.iUnit);
      sqlite3_bind_int(pInsert, iFirst + 3, _Change.iDevice);
      BindText(pInsert, iFirst + 4, _Change.sVariable);
      if (_Change.bHasPrevious) {
        BindText(pInsert, iFirst + 5, _Change.sPrevious);
      }
      BindText(pInsert, iFirst + 6, _Change.sValue);
    }
    if (!Step(pInsert)) return false;
  }
  for (const auto& latest : _Batch.mapLatest) {
    sqlite3_bind_int(m_pSetLatest, 1, latest.first.first);
    sqlite3_bind_int(m_pSetLatest, 2, latest.first.second);
    BindText(m_pSetLatest, 3, latest.second);
    if (!Step(m_pSetLatest)) return false;
  }
  if (_Batch.bLatestWritten && !Step(m_pMarkLatest)) return false;
  for (const auto& name : _Batch.mapNames) {
    sqlite3_bind_int(m_pSetDevice, 1, name.first.first);
    sqlite3_bind_int(m_pSetDevice, 2, name.first.second);
    BindText(m_pSetDevice, 3, name.second);
    if (!Step(m_pSetDevice)) return false;
  }
  for (const SceneChange& _Scene : _Batch.vecScenes) {
    sqlite3_bind_int(m_pSetScene, 1, _Scene.iUnit);
    sqlite3_bind_int(m_pSetScene, 2, _Scene.iScene);
    BindText(m_pSetScene, 3, _Scene.sName);
    sqlite3_bind_int(m_pSetScene, 4, _Scene.bActive ? 1 : 0);
    if (!Step(m_pSetScene)) return false;
    if (!_Scene.bFlagChanged) continue;
    sqlite3_bind_int64(m_pInsertScene, 1, _Scene.tTime);
    sqlite3_bind_int(m_pInsertScene, 2, _Scene.iUnit);
    sqlite3_bind_int(m_pInsertScene, 3, _Scene.iScene);
    sqlite3_bind_int(m_pInsertScene, 4, _Scene.bActive ? 1 : 0);
    if (!Step(m_pInsertScene)) return false;
  }
  for (const auto& mark : _Batch.vecConnection) {
    sqlite3_bind_int64(m_pInsertConnection, 1, std::get<0>(mark));
    sqlite3_bind_int(m_pInsertConnection, 2, std::get<1>(mark));
    BindText(m_pInsertConnection, 3, std::get<2>(mark));
    if (!Step(m_pInsertConnection)) return false;
  }
  return true;
}

bool HistoryWriter::Write(const HistoryBatch& _Batch, std::string* pReason) {
  if (_Batch.Empty()) return true;
  if (!Step(m_pBegin)) {
    *pReason = sqlite3_errmsg(m_pDatabase);
    return false;
  }
  // A bulk load fills the table alone and then sorts its rows into the
  // two indexes at once, which costs far less than keeping three B-trees
  // in step row by row; its pages are kept in memory until the commit.
  bool bBulk = _Batch.vecChanges.size() >= kBulkChanges && ChangeTableEmpty();
  if (bBulk) RunHistorySql(m_pDatabase, kBulkCacheSize);
  bool bWritten =
      (!bBulk || RunHistorySql(m_pDatabase, kHistoryDropChangeIndexes)) &&
      WriteRows(_Batch) &&
      (!bBulk || RunHistorySql(m_pDatabase, kHistoryChangeIndexes)) &&
      Step(m_pCommit);
  if (!bWritten) *pReason = sqlite3_errmsg(m_pDatabase);
  if (bBulk) {
    RunHistorySql(m_pDatabase, kCacheSize);
    sqlite3_db_release_memory(m_pDatabase);
  }
  if (!bWritten) {
    RunHistorySql(m_pDatabase, "ROLLBACK");
    return false;
  }
  return true;
}
