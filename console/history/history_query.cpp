// Reading the history file for the history command.
#include "console/history/history_query.h"

#include <sqlite3.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>

#include "console/history/history_file.h"
#include "engine/terminal_text.h"

namespace {

// The longest span read: a hundred years (a longer one reads the same).
constexpr int64_t kLongestSpan = 36500LL * 86400;

bool IsPlainNumber(const std::string& sWord) {
  if (sWord.empty()) return false;
  for (char c : sWord) {
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string Trimmed(const std::string& sText) {
  size_t iStart = sText.find_first_not_of(" \t");
  if (iStart == std::string::npos) return std::string();
  size_t iEnd = sText.find_last_not_of(" \t");
  return sText.substr(iStart, iEnd - iStart + 1);
}

std::string Column(sqlite3_stmt* pStatement, int iColumn) {
  const unsigned char* sText = sqlite3_column_text(pStatement, iColumn);
  int iBytes = sqlite3_column_bytes(pStatement, iColumn);
  return sText != nullptr ? std::string(reinterpret_cast<const char*>(sText),
                                        static_cast<size_t>(iBytes))
                          : std::string();
}

// A statement that closes itself.
class Statement {
 public:
  Statement(sqlite3* pDatabase, const char* sSql) {
    if (sqlite3_prepare_v2(pDatabase, sSql, -1, &m_pStatement, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(m_pStatement);
      m_pStatement = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(m_pStatement); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* Get() const { return m_pStatement; }

 private:
  sqlite3_stmt* m_pStatement = nullptr;
};

// The unit the file recorded last, or 0.
int LastUnit(sqlite3* pDatabase) {
  Statement _Query(pDatabase,
                   "SELECT unit FROM change ORDER BY time DESC LIMIT 1");
  if (_Query.Get() == nullptr || sqlite3_step(_Query.Get()) != SQLITE_ROW) {
    return 0;
  }
  return sqlite3_column_int(_Query.Get(), 0);
}

// The device sDevice names (a number or a whole name, any case) among the
// devices recorded for iUnit: its number, or 0.
int FindDevice(sqlite3* pDatabase, int iUnit, const std::string& sDevice) {
  const char* sSql =
      IsPlainNumber(sDevice)
          ? "SELECT device FROM device WHERE unit = ?1 AND device = ?2"
          : "SELECT device FROM device WHERE unit = ?1"
            " AND name = ?3 COLLATE NOCASE ORDER BY device LIMIT 1";
  Statement _Query(pDatabase, sSql);
  if (_Query.Get() == nullptr) return 0;
  sqlite3_bind_int(_Query.Get(), 1, iUnit);
  if (IsPlainNumber(sDevice)) {
    errno = 0;
    long iNumber = strtol(sDevice.c_str(), nullptr, 10);
    if (errno != 0 || iNumber > INT_MAX) return 0;
    sqlite3_bind_int(_Query.Get(), 2, static_cast<int>(iNumber));
  } else {
    sqlite3_bind_text(_Query.Get(), 3, sDevice.c_str(), -1, SQLITE_TRANSIENT);
  }
  if (sqlite3_step(_Query.Get()) != SQLITE_ROW) return 0;
  return sqlite3_column_int(_Query.Get(), 0);
}

}  // namespace

bool ParseHistorySpan(const std::string& sText, int64_t* pSeconds) {
  if (sText.size() < 2 || sText[0] == '0') return false;
  std::string sNumber = sText.substr(0, sText.size() - 1);
  if (!IsPlainNumber(sNumber) || sNumber.size() > 9) return false;
  int64_t iUnit = 0;
  switch (sText.back()) {
    case 's': iUnit = 1; break;
    case 'm': iUnit = 60; break;
    case 'h': iUnit = 3600; break;
    case 'd': iUnit = 86400; break;
    default: return false;
  }
  int64_t iSeconds = atoll(sNumber.c_str()) * iUnit;
  *pSeconds = iSeconds < kLongestSpan ? iSeconds : kLongestSpan;
  return true;
}

bool ReadHistoryArguments(const std::string& sRest, std::string* pDevice,
                          int64_t* pSpan, std::string* pError) {
  std::string sWords = Trimmed(sRest);
  *pSpan = kDefaultHistorySpan;
  size_t iLast = sWords.find_last_of(" \t");
  std::string sLast =
      iLast == std::string::npos ? sWords : sWords.substr(iLast + 1);
  if (!sLast.empty() && isdigit(static_cast<unsigned char>(sLast[0])) &&
      !IsPlainNumber(sLast)) {
    if (!ParseHistorySpan(sLast, pSpan)) {
      *pError = "not a span: " + sLast + " (45s, 30m, 6h, 7d)";
      return false;
    }
    sWords = iLast == std::string::npos ? std::string()
                                        : Trimmed(sWords.substr(0, iLast));
  }
  *pDevice = sWords;
  return true;
}

HistoryRead ReadHistory(const std::string& sPath, int iUnit,
                        const std::string& sDevice, int64_t tNow,
                        int64_t tSpan, HistoryAnswer* pAnswer,
                        std::string* pReason) {
  sqlite3* pDatabase = OpenHistoryForReading(sPath, pReason);
  if (pDatabase == nullptr) return HistoryRead::kNoFile;
  HistoryRead eRead = HistoryRead::kRead;
  pAnswer->tNow = tNow;
  pAnswer->tSince = tNow - tSpan;
  pAnswer->iDevice = 0;
  pAnswer->vecChanges.clear();
  if (iUnit == 0) iUnit = LastUnit(pDatabase);
  if (!sDevice.empty()) {
    pAnswer->iDevice = FindDevice(pDatabase, iUnit, sDevice);
    if (pAnswer->iDevice == 0) {
      *pReason = "No such device in the history: " + sDevice;
      eRead = HistoryRead::kUnknownDevice;
    }
  }
  if (eRead == HistoryRead::kRead) {
    // One device over a span reads change_by_device, the whole home
    // change_by_time: an index either way, never the whole table.
    Statement _Query(
        pDatabase,
        pAnswer->iDevice != 0
            ? "SELECT c.time, c.device, d.name, c.variable, c.previous,"
              " c.value FROM change c LEFT JOIN device d"
              " ON d.unit = c.unit AND d.device = c.device"
              " WHERE c.device = ?3 AND c.time >= ?2 AND c.unit = ?1"
              " ORDER BY c.time, c.rowid"
            : "SELECT c.time, c.device, d.name, c.variable, c.previous,"
              " c.value FROM change c LEFT JOIN device d"
              " ON d.unit = c.unit AND d.device = c.device"
              " WHERE c.time >= ?2 AND c.unit = ?1"
              " ORDER BY c.time, c.rowid");
    int iResult = SQLITE_ERROR;
    if (_Query.Get() != nullptr) {
      sqlite3_bind_int(_Query.Get(), 1, iUnit);
      sqlite3_bind_int64(_Query.Get(), 2, pAnswer->tSince);
      if (pAnswer->iDevice != 0) {
        sqlite3_bind_int(_Query.Get(), 3, pAnswer->iDevice);
      }
      while ((iResult = sqlite3_step(_Query.Get())) == SQLITE_ROW) {
        HistoryEntry _Entry;
        _Entry.tTime = sqlite3_column_int64(_Query.Get(), 0);
        _Entry.iDevice = sqlite3_column_int(_Query.Get(), 1);
        _Entry.sName = Column(_Query.Get(), 2);
        _Entry.sVariable = Column(_Query.Get(), 3);
        _Entry.bHasPrevious =
            sqlite3_column_type(_Query.Get(), 4) != SQLITE_NULL;
        _Entry.sPrevious = Column(_Query.Get(), 4);
        _Entry.sValue = Column(_Query.Get(), 5);
        pAnswer->vecChanges.push_back(std::move(_Entry));
      }
    }
    if (iResult != SQLITE_DONE) {
      *pReason = sPath + ": " + sqlite3_errmsg(pDatabase);
      eRead = HistoryRead::kNoFile;
    }
  }
  sqlite3_close_v2(pDatabase);
  return eRead;
}

std::string FormatHistoryTime(int64_t tTime) {
  time_t tWhen = static_cast<time_t>(tTime);
  struct tm _Local;
  char cTime[32] = "";
  if (localtime_r(&tWhen, &_Local) != nullptr) {
    strftime(cTime, sizeof(cTime), "%Y-%m-%d %H:%M:%S", &_Local);
  }
  return cTime;
}

std::string FormatHistoryLine(const HistoryEntry& _Entry) {
  std::string sTime = FormatHistoryTime(_Entry.tTime);
  // Names and values come from the unit: their control bytes are shown,
  // never sent to the terminal.
  return sTime + "  " + std::to_string(_Entry.iDevice) + " " +
         Veru::EscapeControlBytes(_Entry.sName) + "  " +
         Veru::EscapeControlBytes(_Entry.sVariable) + " " +
         (_Entry.bHasPrevious ? Veru::EscapeControlBytes(_Entry.sPrevious)
                              : std::string("(none)")) +
         " -> " + Veru::EscapeControlBytes(_Entry.sValue);
}
