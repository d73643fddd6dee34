// A device's numbers over a span, for the sparklines.
#include "console/history/history_series.h"

#include <sqlite3.h>

#include <set>

#include "console/history/history_file.h"

namespace {

std::string Column(sqlite3_stmt* pStatement, int iColumn) {
  const unsigned char* sText = sqlite3_column_text(pStatement, iColumn);
  return sText != nullptr ? reinterpret_cast<const char*>(sText) : "";
}

// Runs sSql with ?1 device, ?2 unit, ?3 since, giving each row to fRow.
template <class RowFunction>
bool EachRow(sqlite3* pDatabase, const char* sSql, int iDevice, int iUnit,
             int64_t tSince, RowFunction fRow) {
  sqlite3_stmt* pStatement = nullptr;
  if (sqlite3_prepare_v2(pDatabase, sSql, -1, &pStatement, nullptr) !=
      SQLITE_OK) {
    return false;
  }
  sqlite3_bind_int(pStatement, 1, iDevice);
  sqlite3_bind_int(pStatement, 2, iUnit);
  sqlite3_bind_int64(pStatement, 3, tSince);
  int iResult;
  while ((iResult = sqlite3_step(pStatement)) == SQLITE_ROW) fRow(pStatement);
  sqlite3_finalize(pStatement);
  return iResult == SQLITE_DONE;
}

}  // namespace

bool ReadDeviceSeries(const std::string& sPath, int iUnit, int iDevice,
                      int64_t tSince, int64_t tNow, DeviceSeries* pSeries,
                      std::string* pReason) {
  sqlite3* pDatabase = OpenHistoryForReading(sPath, pReason);
  if (pDatabase == nullptr) return false;
  if (iUnit == 0) {
    EachRow(pDatabase, "SELECT unit FROM change ORDER BY time DESC LIMIT 1",
            0, 0, 0, [&](sqlite3_stmt* pRow) {
              iUnit = sqlite3_column_int(pRow, 0);
            });
  }
  std::set<std::string> setNotNumbers = {"state", "comment"};
  auto fSample = [&](int64_t tTime, const std::string& sVariable,
                     const std::string& sValue) {
    SparkSample _Sample;
    _Sample.tTime = tTime;
    if (!ReadSparkValue(sValue, &_Sample.fValue)) {
      setNotNumbers.insert(sVariable);
    } else {
      pSeries->mapNumbers[sVariable].push_back(_Sample);
    }
  };
  bool bRead =
      EachRow(pDatabase,
              "SELECT max(time), variable, value FROM change"
              " WHERE device = ?1 AND unit = ?2 AND time < ?3"
              " GROUP BY variable",
              iDevice, iUnit, tSince,
              [&](sqlite3_stmt* pRow) {
                fSample(sqlite3_column_int64(pRow, 0), Column(pRow, 1),
                        Column(pRow, 2));
              }) &&
      EachRow(pDatabase,
              "SELECT time, variable, value FROM change"
              " WHERE device = ?1 AND unit = ?2 AND time >= ?3"
              " ORDER BY time, rowid",
              iDevice, iUnit, tSince,
              [&](sqlite3_stmt* pRow) {
                fSample(sqlite3_column_int64(pRow, 0), Column(pRow, 1),
                        Column(pRow, 2));
              });
  // Whether the span began with the connection lost, then each mark.
  int64_t tLost = -1;
  bRead = bRead &&
          EachRow(pDatabase,
                  "SELECT what FROM connection WHERE unit = ?2"
                  " AND time < ?3 AND ?1 = ?1 ORDER BY time DESC, rowid DESC"
                  " LIMIT 1",
                  0, iUnit, tSince,
                  [&](sqlite3_stmt* pRow) {
                    if (Column(pRow, 0) == "lost") tLost = tSince;
                  }) &&
          EachRow(pDatabase,
                  "SELECT time, what FROM connection WHERE unit = ?2"
                  " AND time >= ?3 AND ?1 = ?1 ORDER BY time, rowid",
                  0, iUnit, tSince, [&](sqlite3_stmt* pRow) {
                    int64_t tTime = sqlite3_column_int64(pRow, 0);
                    if (Column(pRow, 1) == "lost") {
                      if (tLost < 0) tLost = tTime;
                    } else if (tLost >= 0) {
                      pSeries->vecGaps.emplace_back(tLost, tTime);
                      tLost = -1;
                    }
                  });
  if (tLost >= 0) pSeries->vecGaps.emplace_back(tLost, tNow);
  if (!bRead) *pReason = sPath + ": " + sqlite3_errmsg(pDatabase);
  sqlite3_close_v2(pDatabase);
  for (const std::string& sVariable : setNotNumbers) {
    pSeries->mapNumbers.erase(sVariable);
  }
  return bRead;
}
