// HistoryWriter writes what one merged reply changed into the history file
// (see history_file.h) in one transaction, with statements prepared once,
// and reads back what was last recorded when recording starts. A reply of
// many changes into an empty change table (a new file's first full reply)
// is loaded in bulk: the rows, then the indexes made from them.
//
// Threads: one thread at a time (the recorder's). Ownership: owns the
// connection it is given, and closes it.
#ifndef VERU_CONSOLE_HISTORY_HISTORY_WRITER_H
#define VERU_CONSOLE_HISTORY_HISTORY_WRITER_H

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// One change of a device: a variable, "state" or "comment".
struct DeviceChange {
  int64_t tTime = 0;
  int iUnit = 0;
  int iDevice = 0;
  std::string sVariable;
  bool bHasPrevious = false;
  std::string sPrevious;
  std::string sValue;
};

struct SceneChange {
  int64_t tTime = 0;
  int iUnit = 0;
  int iScene = 0;
  std::string sName;
  bool bActive = false;
  // False when only the name changed: the scene table is updated, no
  // change is recorded.
  bool bFlagChanged = true;
};

// What one merged reply (or one connection event) adds to the file.
struct HistoryBatch {
  std::vector<DeviceChange> vecChanges;
  // (unit, device) -> name, for a device seen first or renamed.
  std::map<std::pair<int, int>, std::string> mapNames;
  // (unit, device) -> the latest value of each of its variables, as the
  // JSON object the latest table keeps, for a device with changes since
  // the latest values were last written.
  std::map<std::pair<int, int>, std::string> mapLatest;
  // True when mapLatest brings the latest table up to the batch's last
  // change: latest_upto moves there.
  bool bLatestWritten = false;
  std::vector<SceneChange> vecScenes;
  // (time, unit, "lost" or "restored").
  std::vector<std::tuple<int64_t, int, std::string>> vecConnection;

  bool Empty() const {
    return vecChanges.empty() && mapNames.empty() && mapLatest.empty() &&
           !bLatestWritten && vecScenes.empty() && vecConnection.empty();
  }
};

// What the file holds as the latest of everything, for the recorder to
// compare against.
struct RecordedDevice {
  std::string sName;
  std::map<std::string, std::string> mapValues;
};
struct RecordedScene {
  std::string sName;
  bool bActive = false;
};
struct RecordedHome {
  std::map<std::pair<int, int>, RecordedDevice> mapDevices;
  // The devices whose values the latest table does not hold yet.
  std::set<std::pair<int, int>> setUnwritten;
  std::map<std::pair<int, int>, RecordedScene> mapScenes;
};

class HistoryWriter {
 public:
  explicit HistoryWriter(sqlite3* pDatabase);
  ~HistoryWriter();
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  // Prepares the statements. False, with *pReason set, when they cannot be.
  bool Prepare(std::string* pReason);
  // Everything recorded last: the latest table and the changes after
  // those it holds (their devices in setUnwritten). False, with *pReason
  // set, on a read error.
  bool ReadLatest(RecordedHome* pHome, std::string* pReason);
  // Writes _Batch in one transaction: all of it or, with *pReason set,
  // none.
  bool Write(const HistoryBatch& _Batch, std::string* pReason);

  sqlite3* Database() const { return m_pDatabase; }

 private:
  bool WriteRows(const HistoryBatch& _Batch);
  bool ChangeTableEmpty();

  sqlite3* m_pDatabase;
  sqlite3_stmt* m_pInsertChange = nullptr;
  // kChangesPerInsert rows at once (history_writer.cpp).
  sqlite3_stmt* m_pInsertChanges = nullptr;
  sqlite3_stmt* m_pSetLatest = nullptr;
  sqlite3_stmt* m_pMarkLatest = nullptr;
  sqlite3_stmt* m_pSetDevice = nullptr;
  sqlite3_stmt* m_pSetScene = nullptr;
  sqlite3_stmt* m_pInsertScene = nullptr;
  sqlite3_stmt* m_pInsertConnection = nullptr;
  sqlite3_stmt* m_pBegin = nullptr;
  sqlite3_stmt* m_pCommit = nullptr;
};

#endif  // VERU_CONSOLE_HISTORY_HISTORY_WRITER_H
