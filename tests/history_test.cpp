// The history file on its own: the recorder fed with reports as the fan-out
// gives them, a real SQLite file in a scratch folder, the test clock for the
// retention, and the history read back as the history command reads it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/history/history_detail.h"
#include "console/history/history_file.h"
#include "console/history/history_query.h"
#include "console/history/history_recorder.h"
#include "console/history/history_series.h"
#include "console/history/latest_values.h"
#include "console/history/sparkline.h"
#include "console/report/report_event.h"
#include "tests/fake_clock.h"
#include "tests/test_util.h"

namespace {

constexpr int kUnit = 45001;
constexpr int64_t kNow = 1700000000;

// Runs sSql on the file (its own connection) and gives every row's columns
// joined by "|", one row a line.
std::string Rows(const std::string& sPath, const std::string& sSql) {
  sqlite3* pDatabase = nullptr;
  std::string sRows;
  if (sqlite3_open_v2(sPath.c_str(), &pDatabase, SQLITE_OPEN_READONLY,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(pDatabase);
    return "(cannot open)";
  }
  sqlite3_stmt* pStatement = nullptr;
  if (sqlite3_prepare_v2(pDatabase, sSql.c_str(), -1, &pStatement, nullptr) !=
      SQLITE_OK) {
    sRows = std::string("(") + sqlite3_errmsg(pDatabase) + ")";
  }
  while (pStatement != nullptr && sqlite3_step(pStatement) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(pStatement); ++i) {
      const unsigned char* sText = sqlite3_column_text(pStatement, i);
      if (i > 0) sRows += "|";
      sRows += sText != nullptr ? reinterpret_cast<const char*>(sText) : "NULL";
    }
    sRows += "\n";
  }
  sqlite3_finalize(pStatement);
  sqlite3_close(pDatabase);
  return sRows;
}

Veru::Device MakeDevice(int iID, const std::string& sName,
                        std::vector<Veru::VariableMap::Update> vecVariables,
                        int iState = -1) {
  Veru::Device _Device(iID);
  _Device.m_sName = sName;
  _Device.m_iState = iState;
  _Device.m_mapVariables.Merge(&vecVariables);
  return _Device;
}

ReportEvent DeviceEvent(int64_t tTime, const Veru::Device& _Device,
                        bool bShown = false) {
  ReportEvent _Event;
  _Event.m_iKind = ReportEvent::Kind::kDevice;
  _Event.m_tTime = tTime;
  _Event.m_iSerialNumber = kUnit;
  _Event.m_bShown = bShown;
  _Event.m_pDevice = std::make_shared<const Veru::Device>(_Device);
  return _Event;
}

ReportEvent KindEvent(ReportEvent::Kind iKind, int64_t tTime) {
  ReportEvent _Event;
  _Event.m_iKind = iKind;
  _Event.m_tTime = tTime;
  _Event.m_iSerialNumber = kUnit;
  return _Event;
}

ReportEvent FullEvent(int64_t tTime, std::vector<Veru::Device> vecDevices) {
  ReportEvent _Event = KindEvent(ReportEvent::Kind::kFull, tTime);
  auto pModel = std::make_shared<ModelSnapshot>();
  pModel->m_vecDevice = std::move(vecDevices);
  Veru::Scene _Scene(3);
  _Scene.m_sName = "Away";
  pModel->m_vecScene.push_back(_Scene);
  _Event.m_pModel = pModel;
  return _Event;
}

// The demo's front door and lamp, as a full reply gives them.
std::vector<Veru::Device> Home(const std::string& sTripped,
                               const std::string& sLamp) {
  return {MakeDevice(1, "Living room lamp", {{"Status", sLamp}}, 0),
          MakeDevice(6, "Front door", {{"Armed", "1"}, {"Tripped", sTripped}})};
}

class HistoryTest : public testing::Test {
 protected:
  void SetUp() override { FakeClock::Reset(kNow); }

  std::unique_ptr<HistoryRecorder> OpenRecorder(int iDays = 30) {
    std::string sReason;
    auto pRecorder = HistoryRecorder::Open(m_sPath, iDays, &sReason);
    EXPECT_NE(nullptr, pRecorder) << sReason;
    return pRecorder;
  }

  // A recorder that saw one full reply and ended.
  void RecordStart(int64_t tTime, const std::string& sTripped,
                   const std::string& sLamp) {
    auto pRecorder = OpenRecorder();
    ASSERT_NE(nullptr, pRecorder);
    pRecorder->OnReport(FullEvent(tTime, Home(sTripped, sLamp)));
    pRecorder->OnStop();
  }

  ScratchDir m_Dir;
  std::string m_sPath = m_Dir.Path() + "/history.db";
};

TEST_F(HistoryTest, RestartsRecordOnlyWhatChangedMeanwhile) {
  RecordStart(kNow, "0", "0");
  const std::string sBaseline =
      "1|1|Status|NULL|0\n1|1|state|NULL|0\n"
      "1|6|Armed|NULL|1\n1|6|Tripped|NULL|0\n";
  const char kChanges[] =
      "SELECT time - 1700000000 + 1, device, variable, ifnull(previous,"
      " 'NULL'), value FROM change ORDER BY rowid";
  EXPECT_EQ(sBaseline, Rows(m_sPath, kChanges));

  RecordStart(kNow + 100, "0", "0");
  EXPECT_EQ(sBaseline, Rows(m_sPath, kChanges));

  RecordStart(kNow + 200, "1", "0");
  EXPECT_EQ(sBaseline + "201|6|Tripped|0|1\n", Rows(m_sPath, kChanges));
  EXPECT_EQ("45001|1|Living room lamp\n45001|6|Front door\n",
            Rows(m_sPath, "SELECT * FROM device"));
  EXPECT_EQ("45001|3|Away|0\n", Rows(m_sPath, "SELECT * FROM scene"));
}

// A home large enough that its first full reply into an empty file is
// loaded in bulk (the indexes made after the rows): the file ends up as
// row-by-row writing would leave it.
TEST_F(HistoryTest, BigFirstReplyIsLoadedWithItsIndexesAndLatestValues) {
  std::vector<std::string> vecNames;
  for (int i = 0; i < 20; ++i) vecNames.push_back("V" + std::to_string(i));
  auto fHome = [&](const std::string& sValue) {
    std::vector<Veru::Device> vecDevices;
    for (int iID = 1; iID <= 60; ++iID) {
      std::vector<Veru::VariableMap::Update> vecVariables;
      for (const std::string& sName : vecNames) {
        vecVariables.push_back({sName, sValue});
      }
      vecDevices.push_back(MakeDevice(iID, "D" + std::to_string(iID),
                                      std::move(vecVariables), 0));
    }
    return vecDevices;
  };
  auto fRecord = [&](int64_t tTime, const std::string& sValue) {
    FakeClock::Reset(tTime);
    auto pRecorder = OpenRecorder();
    ASSERT_NE(nullptr, pRecorder);
    pRecorder->OnReport(FullEvent(tTime, fHome(sValue)));
    pRecorder->OnStop();
  };
  const char kFile[] =
      "SELECT (SELECT group_concat(name) FROM (SELECT name FROM sqlite_master"
      " WHERE tbl_name = 'change' AND type = 'index' ORDER BY name)),"
      " (SELECT count(*) FROM change), (SELECT count(*) FROM change WHERE"
      " previous = 'a' AND value = 'b'), (SELECT count(*) FROM latest),"
      " (SELECT count(*) FROM latest, json_each(latest.variables) WHERE"
      " value = ?), (SELECT integrity_check FROM pragma_integrity_check)";
  auto fFile = [&](const std::string& sValue) {
    std::string sSql = kFile;
    sSql.replace(sSql.find('?'), 1, "'" + sValue + "'");
    return Rows(m_sPath, sSql);
  };
  fRecord(kNow, "a");
  EXPECT_EQ("change_by_device,change_by_time|1260|0|60|1200|ok\n",
            fFile("a"));
  // A restart with the same home adds nothing.
  fRecord(kNow + 100, "a");
  EXPECT_EQ("change_by_device,change_by_time|1260|0|60|1200|ok\n",
            fFile("a"));
  // After the retention has emptied the change table, a reply that
  // changes everything is loaded in bulk again, each change with the
  // value it follows.
  fRecord(kNow + 31 * 86400, "b");
  EXPECT_EQ("change_by_device,change_by_time|1200|1200|60|1200|ok\n",
            fFile("b"));
}

// The latest values are written now and then; an end without the stop (a
// kill) leaves them behind the change table, which then tells the rest,
// also after a purge that emptied it.
TEST_F(HistoryTest, EndWithoutStopLosesNoLatestValue) {
  const char kChanges[] =
      "SELECT device, variable, ifnull(previous, 'NULL'), value FROM change"
      " ORDER BY rowid";
  const char kLatest[] =
      "SELECT (SELECT change FROM latest_upto), device, key, value FROM"
      " latest, json_each(latest.variables) ORDER BY device, key";
  auto fKilled = [&](int64_t tTime, const std::string& sTripped) {
    FakeClock::Reset(tTime);
    auto pRecorder = OpenRecorder();
    ASSERT_NE(nullptr, pRecorder);
    pRecorder->OnReport(FullEvent(tTime, Home(sTripped, "0")));
  };
  fKilled(kNow, "0");
  fKilled(kNow + 10, "1");
  // Each start writes what the change table told it: the second knew the
  // first reply's values, not its own change.
  EXPECT_EQ("4|1|Status|0\n4|1|state|0\n4|6|Armed|1\n4|6|Tripped|0\n",
            Rows(m_sPath, kLatest));
  // The restart knew Tripped was 1: nothing new, and the stop writes the
  // latest values up to the last change.
  RecordStart(kNow + 20, "1", "0");
  const std::string sChanges =
      "1|Status|NULL|0\n1|state|NULL|0\n6|Armed|NULL|1\n6|Tripped|NULL|0\n"
      "6|Tripped|0|1\n";
  EXPECT_EQ(sChanges, Rows(m_sPath, kChanges));
  EXPECT_EQ("5|1|Status|0\n5|1|state|0\n5|6|Armed|1\n5|6|Tripped|1\n",
            Rows(m_sPath, kLatest));

  // 31 days on the purge empties the change table, whose rows are then
  // numbered from 1 again.
  fKilled(kNow + 31 * 86400, "0");
  EXPECT_EQ("6|Tripped|1|0\n", Rows(m_sPath, kChanges));
  fKilled(kNow + 31 * 86400 + 10, "0");
  RecordStart(kNow + 31 * 86400 + 20, "1", "0");
  EXPECT_EQ("6|Tripped|1|0\n6|Tripped|0|1\n", Rows(m_sPath, kChanges));
  EXPECT_EQ("2|1|Status|0\n2|1|state|0\n2|6|Armed|1\n2|6|Tripped|1\n",
            Rows(m_sPath, kLatest));
}

// An older file is brought up to date in one transaction: what it
// recorded stays known, and a migration that fails leaves it as it was.
TEST_F(HistoryTest, OlderVersionIsMigratedInOneTransaction) {
  // The first version's file, as that program left it.
  const std::string sFirstVersion =
      "PRAGMA application_id=1449489013; PRAGMA user_version=1;"
      "CREATE TABLE change(time INTEGER NOT NULL, unit INTEGER NOT NULL,"
      " device INTEGER NOT NULL, variable TEXT NOT NULL, previous TEXT,"
      " value TEXT NOT NULL);"
      "CREATE INDEX change_by_device ON change(device, time);"
      "CREATE INDEX change_by_time ON change(time);"
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
      "CREATE INDEX connection_by_time ON connection(time);"
      "INSERT INTO change VALUES(1700000000, 45001, 1, 'Status', NULL, '0'),"
      " (1700000000, 45001, 1, 'state', NULL, '0'),"
      " (1700000000, 45001, 6, 'Armed', NULL, '1'),"
      " (1700000000, 45001, 6, 'Tripped', NULL, '0');"
      "INSERT INTO latest VALUES(45001, 1, 'Status', '0'),"
      " (45001, 1, 'state', '0'), (45001, 6, 'Armed', '1'),"
      " (45001, 6, 'Tripped', 'a \"quoted\\ value');"
      "INSERT INTO device VALUES(45001, 1, 'Living room lamp'),"
      " (45001, 6, 'Front door');"
      "INSERT INTO scene VALUES(45001, 3, 'Away', 0);";
  auto fMake = [&](const std::string& sMore) {
    unlink(m_sPath.c_str());
    sqlite3* pDatabase = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(m_sPath.c_str(), &pDatabase));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(pDatabase, (sFirstVersion + sMore).c_str(),
                                      nullptr, nullptr, nullptr));
    sqlite3_close(pDatabase);
  };
  // A table in the way: the migration fails, and nothing of it stays.
  fMake("CREATE TABLE latest_of_device(x);");
  const std::string sBefore =
      Rows(m_sPath, "SELECT * FROM latest") +
      Rows(m_sPath, "SELECT name FROM sqlite_master ORDER BY name");
  std::string sReason;
  EXPECT_EQ(nullptr, HistoryRecorder::Open(m_sPath, 30, &sReason));
  EXPECT_NE(std::string::npos, sReason.find("latest_of_device")) << sReason;
  EXPECT_EQ("1\n", Rows(m_sPath, "PRAGMA user_version"));
  EXPECT_EQ(sBefore,
            Rows(m_sPath, "SELECT * FROM latest") +
                Rows(m_sPath, "SELECT name FROM sqlite_master ORDER BY name"));

  fMake("");
  // Read as it is, before any recording console brought it up to date.
  sqlite3* pReader = OpenHistoryForReading(m_sPath, &sReason);
  EXPECT_NE(nullptr, pReader) << sReason;
  sqlite3_close(pReader);
  {
    auto pRecorder = OpenRecorder();
    ASSERT_NE(nullptr, pRecorder);
    pRecorder->OnStop();
  }
  EXPECT_EQ("2\n", Rows(m_sPath, "PRAGMA user_version"));
  EXPECT_EQ("4\n", Rows(m_sPath, "SELECT change FROM latest_upto"));
  EXPECT_EQ("1|Status|0\n1|state|0\n6|Armed|1\n6|Tripped|a \"quoted\\ value\n",
            Rows(m_sPath, "SELECT device, key, value FROM latest,"
                          " json_each(latest.variables) ORDER BY device, key"));
  // The values carried over are the ones a restart compares with.
  RecordStart(kNow + 100, "a \"quoted\\ value", "0");
  EXPECT_EQ("4\n", Rows(m_sPath, "SELECT count(*) FROM change"));
  RecordStart(kNow + 200, "1", "0");
  EXPECT_EQ("201|6|Tripped|a \"quoted\\ value|1\n",
            Rows(m_sPath, "SELECT time - 1700000000 + 1, device, variable,"
                          " previous, value FROM change WHERE rowid > 4"));
}

// The latest values' JSON object holds any text as it was, and SQLite's
// json functions read it the same.
TEST_F(HistoryTest, LatestValuesKeepAnyText) {
  const std::map<std::string, std::string> mapValues = {
      {"plain", "21.5"},
      {"empty", ""},
      {"quote \" and \\ backslash", "\"\\"},
      {"controls", std::string("a\nb\tc\x01\x1f", 7)},
      {"utf-8", "K\xc3\xbc" "che \xe2\x82\xac"},
      {"nul", std::string("x\0y", 3)},
  };
  std::string sText = LatestValuesText(mapValues);
  std::map<std::string, std::string> mapRead;
  ASSERT_TRUE(ReadLatestValues(sText, &mapRead)) << sText;
  EXPECT_EQ(mapValues, mapRead);
  sqlite3* pDatabase = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &pDatabase));
  sqlite3_stmt* pStatement = nullptr;
  ASSERT_EQ(SQLITE_OK,
            sqlite3_prepare_v2(pDatabase, "SELECT key, value FROM json_each(?)",
                               -1, &pStatement, nullptr));
  sqlite3_bind_text(pStatement, 1, sText.data(),
                    static_cast<int>(sText.size()), SQLITE_STATIC);
  std::map<std::string, std::string> mapSqlite;
  while (sqlite3_step(pStatement) == SQLITE_ROW) {
    auto fText = [&](int iColumn) {
      return std::string(
          reinterpret_cast<const char*>(sqlite3_column_text(pStatement, iColumn)),
          static_cast<size_t>(sqlite3_column_bytes(pStatement, iColumn)));
    };
    mapSqlite[fText(0)] = fText(1);
  }
  sqlite3_finalize(pStatement);
  sqlite3_close(pDatabase);
  // SQLite's text ends at a NUL byte; every other value is read the same.
  std::map<std::string, std::string> mapExpected = mapValues;
  mapExpected["nul"] = "x";
  EXPECT_EQ(mapExpected, mapSqlite);

  for (const char* sBad : {"", "[]", "{\"a\":1}", "{\"a\":\"b\"", "null"}) {
    std::map<std::string, std::string> mapBad;
    EXPECT_FALSE(ReadLatestValues(sBad, &mapBad)) << sBad;
  }
}

// A merged reply is one transaction: its device reports are written when
// the report that ends the reply comes, all at once. "show" is no change.
TEST_F(HistoryTest, OneMergedReplyIsWrittenAtItsEnd) {
  auto pRecorder = OpenRecorder();
  ASSERT_NE(nullptr, pRecorder);
  pRecorder->OnReport(FullEvent(kNow, Home("0", "0")));
  pRecorder->OnReport(
      DeviceEvent(kNow + 5, MakeDevice(6, "Front door", {{"Tripped", "1"}})));
  pRecorder->OnReport(
      DeviceEvent(kNow + 5, MakeDevice(1, "Living room lamp", {{"Status", "1"}})));
  const char kChanges[] =
      "SELECT device, variable, previous, value FROM change WHERE time > "
      "1700000000 ORDER BY rowid";
  EXPECT_EQ("", Rows(m_sPath, kChanges));
  pRecorder->OnReport(KindEvent(ReportEvent::Kind::kPartial, kNow + 5));
  EXPECT_EQ("6|Tripped|0|1\n1|Status|0|1\n", Rows(m_sPath, kChanges));

  pRecorder->OnReport(DeviceEvent(
      kNow + 6, MakeDevice(6, "Front door", {{"Tripped", "0"}}), true));
  pRecorder->OnReport(KindEvent(ReportEvent::Kind::kConnectionLost, kNow + 7));
  pRecorder->OnReport(
      KindEvent(ReportEvent::Kind::kConnectionRestored, kNow + 9));
  pRecorder->OnStop();
  EXPECT_EQ("6|Tripped|0|1\n1|Status|0|1\n", Rows(m_sPath, kChanges));
  EXPECT_EQ("7|lost\n9|restored\n",
            Rows(m_sPath, "SELECT time - 1700000000, what FROM connection"));
}

TEST_F(HistoryTest, NewFileIsTheOwnersAloneInWalWithIncrementalVacuum) {
  RecordStart(kNow, "0", "0");
  EXPECT_EQ(0600u, FileMode(m_sPath));
  EXPECT_EQ("2\n", Rows(m_sPath, "PRAGMA auto_vacuum"));
  EXPECT_EQ("wal\n", Rows(m_sPath, "PRAGMA journal_mode"));
  EXPECT_EQ("1449489013|2\n",
            Rows(m_sPath, "SELECT * FROM pragma_application_id, "
                          "pragma_user_version"));
}

// Whatever is at the path and is not a history file of this program is
// refused before SQLite opens it, and left byte for byte as it was.
TEST_F(HistoryTest, FileThatIsNotOursIsLeftAsItWas) {
  struct Case {
    const char* sWhat;
    std::function<void()> fMake;
    const char* sReason;
  };
  auto fSqlite = [this](const char* sSql) {
    sqlite3* pDatabase = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(m_sPath.c_str(), &pDatabase));
    ASSERT_EQ(SQLITE_OK,
              sqlite3_exec(pDatabase, sSql, nullptr, nullptr, nullptr));
    sqlite3_close(pDatabase);
  };
  const std::vector<Case> vecCases = {
      {"a text file", [&] { WriteFile(m_sPath, "my notes\n"); },
       "is not a history file of veru-console"},
      {"another program's database",
       [&] { fSqlite("CREATE TABLE notes(text); INSERT INTO notes VALUES(1)"); },
       "is another program's SQLite database"},
      {"a newer history",
       [&] {
         fSqlite("PRAGMA application_id=1449489013; PRAGMA user_version=9;"
                 "CREATE TABLE change(x)");
       },
       "has history version 9, newer than this program's 2"},
      {"a folder", [&] { ASSERT_EQ(0, mkdir(m_sPath.c_str(), 0700)); },
       "is a folder"},
      {"a FIFO", [&] { ASSERT_EQ(0, mkfifo(m_sPath.c_str(), 0600)); },
       "is not a regular file"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sWhat);
    _Case.fMake();
    std::string sBefore = ListFolder(m_Dir.Path());
    struct stat _Before;
    ASSERT_EQ(0, stat(m_sPath.c_str(), &_Before));
    std::string sContent =
        S_ISREG(_Before.st_mode) ? ReadFile(m_sPath) : std::string();
    std::string sReason;
    EXPECT_EQ(nullptr, HistoryRecorder::Open(m_sPath, 30, &sReason));
    EXPECT_NE(std::string::npos, sReason.find(_Case.sReason)) << sReason;
    HistoryAnswer _Answer;
    EXPECT_EQ(HistoryRead::kNoFile,
              ReadHistory(m_sPath, 0, "", kNow, 3600, &_Answer, &sReason));
    struct stat _After;
    ASSERT_EQ(0, stat(m_sPath.c_str(), &_After));
    EXPECT_EQ(_Before.st_mtim.tv_sec, _After.st_mtim.tv_sec);
    EXPECT_EQ(_Before.st_mtim.tv_nsec, _After.st_mtim.tv_nsec);
    EXPECT_EQ(_Before.st_mode, _After.st_mode);
    if (S_ISREG(_Before.st_mode)) {
      EXPECT_EQ(sContent, ReadFile(m_sPath));
    }
    EXPECT_EQ(sBefore, ListFolder(m_Dir.Path()));
    if (S_ISDIR(_Before.st_mode)) {
      rmdir(m_sPath.c_str());
    } else {
      unlink(m_sPath.c_str());
    }
  }
}

// A folder where nothing can be made: a read-only one, or for root (who
// writes anywhere the permissions forbid) a read-only file system.
TEST_F(HistoryTest, ReadOnlyFolderRecordsNothing) {
  ASSERT_EQ(0, mkdir("locked", 0500));
  std::string sPath =
      geteuid() == 0 ? "/proc/veru-history.db" : "locked/history.db";
  std::string sReason;
  EXPECT_EQ(nullptr, HistoryRecorder::Open(sPath, 30, &sReason));
  EXPECT_NE(std::string::npos, sReason.find(sPath + ": cannot be made: "))
      << sReason;
  EXPECT_FALSE(FileExists(sPath));
  EXPECT_EQ("", ListFolder("locked"));
  chmod("locked", 0700);
}

// Rows older than the retention go at the start (and then hourly), and the
// pages they held are given back: the file shrinks.
TEST_F(HistoryTest, RetentionPurgesOldRowsAndTheFileShrinks) {
  {
    auto pRecorder = OpenRecorder();
    ASSERT_NE(nullptr, pRecorder);
    for (int i = 0; i < 3000; ++i) {
      std::string sValue = std::to_string(i) + std::string(100, 'x');
      pRecorder->OnReport(DeviceEvent(
          kNow + i, MakeDevice(5, "Kitchen temperature",
                               {{"CurrentTemperature", sValue}})));
      pRecorder->OnReport(KindEvent(ReportEvent::Kind::kPartial, kNow + i));
    }
    pRecorder->OnStop();
  }
  struct stat _Full;
  ASSERT_EQ(0, stat(m_sPath.c_str(), &_Full));
  EXPECT_EQ("3000\n", Rows(m_sPath, "SELECT count(*) FROM change"));

  // 31 days on, the next start keeps only the last 40 changes of the 30
  // days kept; the latest value stays known.
  FakeClock::Reset(kNow + 2960 + 30 * 86400);
  auto pRecorder = OpenRecorder();
  ASSERT_NE(nullptr, pRecorder);
  pRecorder->OnStop();
  pRecorder.reset();
  EXPECT_EQ("40\n", Rows(m_sPath, "SELECT count(*) FROM change"));
  EXPECT_EQ("1\n", Rows(m_sPath, "SELECT count(*) FROM latest, json_each("
                                 "latest.variables) WHERE value LIKE '2999x%'"));
  struct stat _Purged;
  ASSERT_EQ(0, stat(m_sPath.c_str(), &_Purged));
  EXPECT_LT(_Purged.st_size * 4, _Full.st_size)
      << _Purged.st_size << " of " << _Full.st_size;
  EXPECT_EQ("ok\n", Rows(m_sPath, "PRAGMA integrity_check"));
}

TEST_F(HistoryTest, SpansAndArguments) {
  struct Case {
    const char* sRest;
    bool bRead;
    const char* sDevice;
    int64_t iSpan;
  };
  const Case kCases[] = {
      {"", true, "", 86400},
      {" 6", true, "6", 86400},
      {" 45s", true, "", 45},
      {" 30m", true, "", 1800},
      {"  front DOOR  6h ", true, "front DOOR", 21600},
      {" 6 7d", true, "6", 604800},
      {" Front door", true, "Front door", 86400},
      {" 6 7w", false, "", 0},
      {" 6 0h", false, "", 0},
      {" 6 5x", false, "", 0},
      {" 12hours", false, "", 0},
      {" 6 1.5h", false, "", 0},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sRest);
    std::string sDevice;
    int64_t iSpan = 0;
    std::string sError;
    EXPECT_EQ(_Case.bRead,
              ReadHistoryArguments(_Case.sRest, &sDevice, &iSpan, &sError));
    if (!_Case.bRead) {
      EXPECT_NE(std::string::npos, sError.find("not a span")) << sError;
      continue;
    }
    EXPECT_EQ(_Case.sDevice, sDevice);
    EXPECT_EQ(_Case.iSpan, iSpan);
  }
}

TEST_F(HistoryTest, ReadBackByNumberOrNameOldestFirst) {
  auto pRecorder = OpenRecorder();
  ASSERT_NE(nullptr, pRecorder);
  pRecorder->OnReport(FullEvent(kNow - 7200, Home("0", "0")));
  for (int i = 1; i <= 3; ++i) {
    pRecorder->OnReport(DeviceEvent(
        kNow - 600 + i, MakeDevice(6, "Front door",
                                   {{"Tripped", i % 2 ? "1" : "0"}})));
    pRecorder->OnReport(KindEvent(ReportEvent::Kind::kPartial, kNow - 600 + i));
  }
  pRecorder->OnStop();

  HistoryAnswer _Answer;
  std::string sReason;
  ASSERT_EQ(HistoryRead::kRead, ReadHistory(m_sPath, kUnit, "FRONT door",
                                            kNow, 3600, &_Answer, &sReason));
  EXPECT_EQ(6, _Answer.iDevice);
  EXPECT_EQ(kNow - 3600, _Answer.tSince);
  ASSERT_EQ(3u, _Answer.vecChanges.size());
  EXPECT_EQ("Front door", _Answer.vecChanges[0].sName);
  EXPECT_EQ("Tripped", _Answer.vecChanges[0].sVariable);
  EXPECT_EQ("0", _Answer.vecChanges[0].sPrevious);
  EXPECT_EQ("1", _Answer.vecChanges[0].sValue);
  EXPECT_EQ("0", _Answer.vecChanges[1].sValue);
  EXPECT_EQ(kNow - 597, _Answer.vecChanges[2].tTime);
  std::string sLine = FormatHistoryLine(_Answer.vecChanges[0]);
  EXPECT_TRUE(EndsWith(sLine, "  6 Front door  Tripped 0 -> 1")) << sLine;
  EXPECT_EQ(19u, sLine.find("  6 "));

  ASSERT_EQ(HistoryRead::kRead,
            ReadHistory(m_sPath, 0, "", kNow, 86400, &_Answer, &sReason));
  EXPECT_EQ(0, _Answer.iDevice);
  ASSERT_EQ(7u, _Answer.vecChanges.size());
  EXPECT_FALSE(_Answer.vecChanges[0].bHasPrevious);
  EXPECT_TRUE(EndsWith(FormatHistoryLine(_Answer.vecChanges[0]),
                       "  1 Living room lamp  Status (none) -> 0"));

  EXPECT_EQ(HistoryRead::kUnknownDevice,
            ReadHistory(m_sPath, kUnit, "Back door", kNow, 3600, &_Answer,
                        &sReason));
  EXPECT_EQ(HistoryRead::kUnknownDevice,
            ReadHistory(m_sPath, kUnit, "7", kNow, 3600, &_Answer, &sReason));
  EXPECT_EQ(HistoryRead::kNoFile, ReadHistory("none.db", kUnit, "6", kNow,
                                              3600, &_Answer, &sReason));
  EXPECT_NE(std::string::npos, sReason.find("none.db")) << sReason;
}

// The questions a user asks most use an index, never a scan of the table.
TEST_F(HistoryTest, QueriesUseAnIndex) {
  RecordStart(kNow, "0", "0");
  struct Case {
    const char* sQuery;
    const char* sIndex;
  };
  const Case kCases[] = {
      {"SELECT time FROM change WHERE device = 6 AND time >= 0 AND unit = 1"
       " ORDER BY time, rowid",
       "USING INDEX change_by_device (device=? AND time>?)"},
      {"SELECT time FROM change WHERE time >= 0 AND unit = 1"
       " ORDER BY time, rowid",
       "USING INDEX change_by_time (time>?)"},
      {"SELECT max(time) FROM change WHERE device = 6"
       " AND variable = 'Tripped' AND value = '1'",
       "USING INDEX change_by_device (device=?)"},
  };
  for (const Case& _Case : kCases) {
    std::string sPlan =
        Rows(m_sPath, std::string("EXPLAIN QUERY PLAN ") + _Case.sQuery);
    EXPECT_NE(std::string::npos, sPlan.find(_Case.sIndex)) << sPlan;
    EXPECT_EQ(std::string::npos, sPlan.find("TEMP B-TREE")) << sPlan;
  }
}

TEST_F(HistoryTest, SparklineShowsValuesGapsAndTheirRange) {
  struct Case {
    const char* sWhat;
    std::vector<SparkSample> vecSamples;
    std::vector<std::pair<int64_t, int64_t>> vecGaps;
    const char* sUnicode;
    const char* sAscii;
    double fMin, fMax, fLast;
  };
  // Eight buckets of 10 s from 0 to 80.
  const std::vector<Case> vecCases = {
      {"rising", {{0, 0}, {10, 1}, {20, 2}, {30, 3}, {40, 4}, {50, 5},
                  {60, 6}, {70, 7}},
       {}, "▁▂▃▄▅▆▇█", "_.,-=+*#", 0, 7, 7},
      {"a value from before the span", {{-50, 20}, {35, 21}}, {},
       "▁▁▁█████", "___#####", 20, 21, 21},
      {"a short trip shows in its bucket", {{25, 0}, {41, 1}, {42, 0}}, {},
       "  ▁▁█▁▁▁", "  __#___", 0, 1, 0},
      {"a gap where the connection was lost", {{0, 3}, {10, 4}},
       {{20, 50}}, "▁█   ███", "_#   ###", 3, 4, 4},
      {"one value all along", {{-5, 12}}, {}, "████████", "########", 12,
       12, 12},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sWhat);
    Sparkline _Line =
        MakeSparkline(_Case.vecSamples, _Case.vecGaps, 0, 80, 8, true);
    EXPECT_EQ(_Case.sUnicode, _Line.sLine);
    EXPECT_TRUE(_Line.bAny);
    EXPECT_EQ(_Case.fMin, _Line.fMin);
    EXPECT_EQ(_Case.fMax, _Line.fMax);
    EXPECT_EQ(_Case.fLast, _Line.fLast);
    EXPECT_EQ(_Case.sAscii,
              MakeSparkline(_Case.vecSamples, _Case.vecGaps, 0, 80, 8, false)
                  .sLine);
  }
  EXPECT_FALSE(MakeSparkline({}, {}, 0, 80, 8, true).bAny);
}

TEST_F(HistoryTest, SeriesHoldsTheNumbersAndTheGaps) {
  auto pRecorder = OpenRecorder();
  ASSERT_NE(nullptr, pRecorder);
  pRecorder->OnReport(FullEvent(kNow - 7200, Home("0", "0")));
  pRecorder->OnReport(KindEvent(ReportEvent::Kind::kConnectionLost, kNow - 100));
  pRecorder->OnReport(
      KindEvent(ReportEvent::Kind::kConnectionRestored, kNow - 50));
  pRecorder->OnReport(DeviceEvent(
      kNow - 10,
      MakeDevice(6, "Front door", {{"Tripped", "1"}, {"Armed", "on"}})));
  pRecorder->OnReport(KindEvent(ReportEvent::Kind::kPartial, kNow - 10));
  pRecorder->OnStop();

  DeviceSeries _Series;
  std::string sReason;
  ASSERT_TRUE(ReadDeviceSeries(m_sPath, kUnit, 6, kNow - 3600, kNow, &_Series,
                               &sReason))
      << sReason;
  ASSERT_EQ(1u, _Series.mapNumbers.size());
  const std::vector<SparkSample>& vecTripped = _Series.mapNumbers["Tripped"];
  ASSERT_EQ(2u, vecTripped.size());
  EXPECT_EQ(kNow - 7200, vecTripped[0].tTime);
  EXPECT_EQ(1, vecTripped[1].fValue);
  ASSERT_EQ(1u, _Series.vecGaps.size());
  EXPECT_EQ(kNow - 100, _Series.vecGaps[0].first);
  EXPECT_EQ(kNow - 50, _Series.vecGaps[0].second);
}

}  // namespace

namespace {

// The detail page's lines: a sparkline per numeric variable (a gap where
// the connection was lost), then the newest changes that fit, each line
// within the width.
TEST_F(HistoryTest, DetailLinesShowSparklinesAndRecentChanges) {
  auto pRecorder = OpenRecorder();
  ASSERT_NE(nullptr, pRecorder);
  pRecorder->OnReport(FullEvent(kNow - 86400, Home("0", "0")));
  pRecorder->OnReport(
      KindEvent(ReportEvent::Kind::kConnectionLost, kNow - 43200));
  pRecorder->OnReport(
      KindEvent(ReportEvent::Kind::kConnectionRestored, kNow - 21600));
  for (int i = 1; i <= 5; ++i) {
    pRecorder->OnReport(DeviceEvent(
        kNow - 600 + i, MakeDevice(6, "Front door",
                                   {{"Tripped", i % 2 ? "1" : "0"}})));
    pRecorder->OnReport(KindEvent(ReportEvent::Kind::kPartial, kNow - 600 + i));
  }
  pRecorder->OnStop();

  std::vector<std::string> vecLines =
      HistoryDetailLines(m_sPath, kUnit, 6, kNow, 80, 6, true);
  ASSERT_EQ(6u, vecLines.size());
  EXPECT_EQ("History (last 24 h)", vecLines[0]);
  EXPECT_EQ(0u, vecLines[1].find("  Armed  ")) << vecLines[1];
  EXPECT_NE(std::string::npos, vecLines[2].find("  Tripped  ")) << vecLines[2];
  EXPECT_NE(std::string::npos, vecLines[2].find("▁     ")) << vecLines[2];
  EXPECT_TRUE(EndsWith(vecLines[2], "█  0..1 last 1")) << vecLines[2];
  EXPECT_EQ("Recent changes", vecLines[3]);
  EXPECT_TRUE(EndsWith(vecLines[4], "  Tripped 1 -> 0")) << vecLines[4];
  EXPECT_TRUE(EndsWith(vecLines[5], "  Tripped 0 -> 1")) << vecLines[5];
  for (const std::string& sLine : vecLines) {
    EXPECT_LE(sLine.size(), 80u * 3) << sLine;
  }
  std::vector<std::string> vecAscii =
      HistoryDetailLines(m_sPath, kUnit, 6, kNow, 40, 3, false);
  ASSERT_EQ(3u, vecAscii.size());
  EXPECT_TRUE(EndsWith(vecAscii[2].substr(0, 40), vecAscii[2]));
  EXPECT_EQ(std::string::npos, vecAscii[2].find("▁"));
  EXPECT_EQ(1u, HistoryDetailLines("none.db", kUnit, 6, kNow, 80, 6, true)
                    .size());
}

}  // namespace
