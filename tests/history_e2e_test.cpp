// The history through the real program: veru-console against veru-sim with
// the real wget, the history file read back with SQLite (as a user's tool
// would) and with the history command.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/console_process.h"
#include "tests/sim_process.h"
#include "tests/test_util.h"

namespace {

const char kScenesEnd[] = "-----SCENE 3 Away room 0 active 1 state -1 comment \n";

// Every row of sSql on the file, columns joined by "|", one row a line.
std::string Rows(const std::string& sPath, const std::string& sSql) {
  sqlite3* pDatabase = nullptr;
  std::string sRows;
  if (sqlite3_open_v2(sPath.c_str(), &pDatabase, SQLITE_OPEN_READONLY,
                      nullptr) != SQLITE_OK) {
    sqlite3_close(pDatabase);
    return "(cannot open)";
  }
  sqlite3_busy_timeout(pDatabase, 5000);
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

class HistoryE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_Sim.Start());
    StoreDemoUnitSettings("127.0.0.5", false, "L", "");
  }

  // Starts the console with vecArguments and waits for the home (its last
  // scene line, or with --json the full event).
  void Start(ConsoleProcess* pConsole,
             const std::vector<std::string>& vecArguments = {}) {
    pConsole->KeepErrorsApart();
    ASSERT_TRUE(pConsole->StartWithArguments(VERU_CONSOLE_PATH, vecArguments));
    bool bJson = false;
    for (const std::string& sArgument : vecArguments) {
      bJson = bJson || sArgument == "--json";
    }
    ASSERT_TRUE(pConsole->WaitFor(bJson ? "\"event\":\"full\"" : kScenesEnd))
        << pConsole->Output();
  }

  // "quit", which ends the poll in flight at once: no change is made in
  // the home meanwhile. The exit status.
  int Quit(ConsoleProcess* pConsole) {
    pConsole->WriteLine("quit");
    return pConsole->WaitForExit();
  }

  // One start that sees the home and quits.
  void StartAndQuit(const std::vector<std::string>& vecArguments = {}) {
    ConsoleProcess _Console;
    Start(&_Console, vecArguments);
    EXPECT_EQ(0, Quit(&_Console)) << _Console.Errors();
  }

  ScratchDir m_Dir;
  SimProcess m_Sim;
};

TEST_F(HistoryE2eTest, ChangesAreRecordedAndARestartAddsOnlyWhatChanged) {
  {
    ConsoleProcess _Console;
    Start(&_Console);
    _Console.WriteLine("1 on");
    ASSERT_TRUE(_Console.WaitFor("   Status=1\n"));
    ASSERT_TRUE(_Console.WaitFor("==========PARTIAL"));
    EXPECT_EQ(0, Quit(&_Console)) << _Console.Errors();
  }
  EXPECT_EQ(0600u, FileMode("history.db"));
  const char kLamp[] =
      "SELECT variable, ifnull(previous, 'NULL'), value FROM change"
      " WHERE device = 1 ORDER BY rowid";
  EXPECT_EQ(
      "Status|NULL|0\nTarget|NULL|0\nStatus|0|1\nTarget|0|1\nstate|NULL|4\n"
      "comment|NULL|Switched on\n",
      Rows("history.db", kLamp));
  EXPECT_EQ("Living room lamp\n",
            Rows("history.db", "SELECT name FROM device WHERE device = 1"));
  std::string sCount = Rows("history.db", "SELECT count(*) FROM change");

  StartAndQuit();
  EXPECT_EQ(sCount, Rows("history.db", "SELECT count(*) FROM change"));

  // Changed while no console ran (--do records nothing): the next start
  // adds the change of that device alone.
  ProgramRun _Do = RunProgram({"--do", "7 on"}, VERU_CONSOLE_PATH);
  ASSERT_EQ(0, _Do.iStatus) << _Do.sErrors;
  EXPECT_EQ(sCount, Rows("history.db", "SELECT count(*) FROM change"));
  StartAndQuit();
  EXPECT_EQ("7|Status|0|1\n7|Target|0|1\n7|state|NULL|4\n"
            "7|comment|NULL|Switched on\n",
            Rows("history.db",
                 "SELECT device, variable, ifnull(previous, 'NULL'), value"
                 " FROM change WHERE rowid > " +
                     sCount.substr(0, sCount.size() - 1) + " ORDER BY rowid"));
}

// A kill at any moment leaves a sound file that holds whole replies.
TEST_F(HistoryE2eTest, KillDuringAStreamOfChangesLeavesASoundFile) {
  ConsoleProcess _Console;
  Start(&_Console);
  // Each change ends the long poll (the next one waits its minimum delay,
  // two seconds, so a few are enough).
  for (int i = 0; i < 5; ++i) {
    m_Sim.Control("change");
    ASSERT_TRUE(_Console.WaitFor("==========PARTIAL"));
  }
  m_Sim.Control("change");
  m_Sim.Control("change");
  _Console.Signal(SIGKILL);
  EXPECT_EQ(128 + SIGKILL, _Console.WaitForExit());

  EXPECT_EQ("ok\n", Rows("history.db", "PRAGMA integrity_check"));
  // The latest values hold every variable's last change up to their mark.
  EXPECT_EQ("", Rows("history.db",
                     "SELECT c.device, c.variable FROM change c WHERE"
                     " c.rowid <= (SELECT change FROM latest_upto) AND"
                     " c.rowid = (SELECT max(rowid) FROM change d WHERE"
                     " d.unit = c.unit AND d.device = c.device AND"
                     " d.variable = c.variable) AND c.value IS NOT"
                     " (SELECT j.value FROM latest l, json_each(l.variables)"
                     " j WHERE l.unit = c.unit AND l.device = c.device AND"
                     " j.key = c.variable)"));
  std::string sChanged = Rows(
      "history.db", "SELECT count(*) >= 5 FROM change WHERE previous "
                    "IS NOT NULL");
  EXPECT_EQ("1\n", sChanged);
}

// A signal ends the console as "quit" does for the history: the reply
// already merged is committed and the file closed, so SQLite's -wal and
// -shm files go with it.
TEST_F(HistoryE2eTest, SignalClosesTheFileAsQuitDoes) {
  for (int iSignal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(iSignal);
    ConsoleProcess _Console;
    Start(&_Console);
    _Console.WriteLine("1 on");
    ASSERT_TRUE(_Console.WaitFor("==========PARTIAL"));
    _Console.Signal(iSignal);
    EXPECT_EQ(128 + iSignal, _Console.WaitForExit()) << _Console.Errors();
    EXPECT_FALSE(FileExists("history.db-wal"));
    EXPECT_FALSE(FileExists("history.db-shm"));
    EXPECT_EQ("ok\n", Rows("history.db", "PRAGMA integrity_check"));
    EXPECT_EQ("1\n", Rows("history.db",
                          "SELECT value FROM change WHERE device = 1 AND"
                          " variable = 'Status' ORDER BY rowid DESC LIMIT 1"));
    ProgramRun _Do = RunProgram({"--do", "1 off"}, VERU_CONSOLE_PATH);
    ASSERT_EQ(0, _Do.iStatus) << _Do.sErrors;
  }
}

// Something at the path that is not a history file of this program is
// said once on standard error and left as it was; the console runs on.
TEST_F(HistoryE2eTest, FileThatIsNotOursIsLeftAndTheConsoleRunsOn) {
  WriteFile("notes.txt", "my notes\n");
  sqlite3* pDatabase = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open("other.db", &pDatabase));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(pDatabase, "CREATE TABLE t(x)", nullptr,
                                    nullptr, nullptr));
  sqlite3_close(pDatabase);
  std::string sOther = ReadFile("other.db");
  // A read-only folder; for root, who writes anywhere the permissions
  // forbid, a read-only file system.
  ASSERT_EQ(0, mkdir("locked", 0500));
  std::string sLocked =
      geteuid() == 0 ? "/proc/veru-history.db" : "locked/history.db";
  struct Case {
    std::string sPath;
    std::string sReason;
  };
  const Case kCases[] = {
      {"notes.txt", "notes.txt: is not a history file of veru-console"},
      {"other.db", "other.db: is another program's SQLite database"},
      {sLocked, sLocked + ": cannot be made"},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sPath);
    ConsoleProcess _Console;
    Start(&_Console, {"--history", _Case.sPath});
    _Console.WriteLine("1 on");
    EXPECT_TRUE(_Console.WaitFor("   Status=1\n"));
    EXPECT_EQ(0, Quit(&_Console));
    EXPECT_EQ(1u, CountOf(_Console.Errors(), "veru-console: " + _Case.sReason))
        << _Console.Errors();
    EXPECT_EQ(1u, CountOf(_Console.Errors(), "no history is recorded"));
  }
  EXPECT_EQ("my notes\n", ReadFile("notes.txt"));
  EXPECT_EQ(sOther, ReadFile("other.db"));
  EXPECT_EQ("", ListFolder("locked"));
  EXPECT_FALSE(FileExists(sLocked));
  EXPECT_FALSE(FileExists("history.db"));
  chmod("locked", 0700);
}

TEST_F(HistoryE2eTest, OnlyTheFormsThatFollowTheHomeRecord) {
  ProgramRun _Once = RunProgram({"--once"}, VERU_CONSOLE_PATH);
  EXPECT_EQ(0, _Once.iStatus) << _Once.sErrors;
  ProgramRun _Do = RunProgram({"--do", "1 on"}, VERU_CONSOLE_PATH);
  EXPECT_EQ(0, _Do.iStatus) << _Do.sErrors;
  StartAndQuit({"--no-history"});
  EXPECT_FALSE(FileExists("history.db"));
  EXPECT_FALSE(FileExists("history.db-wal"));

  StartAndQuit({"--history", "home.db", "--json"});
  EXPECT_FALSE(FileExists("history.db"));
  EXPECT_EQ(0600u, FileMode("home.db"));
  EXPECT_EQ("1|1\n", Rows("home.db", "SELECT previous IS NULL, value FROM "
                                     "change WHERE device = 1 AND variable ="
                                     " 'Status'"));
}

// The history command reads the file alone: in the console, with --do and
// --json, by number or whole name, and while the unit is away.
TEST_F(HistoryE2eTest, HistoryCommandTellsTheChangesBack) {
  {
    ConsoleProcess _Console;
    Start(&_Console);
    _Console.WriteLine("1 on");
    ASSERT_TRUE(_Console.WaitFor("   Status=1\n"));
    ASSERT_TRUE(_Console.WaitFor("==========PARTIAL"));
    ASSERT_TRUE(WaitUntil([] {
      return Rows("history.db", "SELECT count(*) FROM change WHERE device = "
                                "1 AND value = 'Switched on'") == "1\n";
    }));
    _Console.WriteLine("history 1 1h");
    EXPECT_TRUE(_Console.WaitFor("  1 Living room lamp  Status (none) -> 0\n"));
    EXPECT_TRUE(_Console.WaitFor("  1 Living room lamp  Target (none) -> 0\n"));
    EXPECT_TRUE(_Console.WaitFor("  1 Living room lamp  Status 0 -> 1\n"));
    EXPECT_TRUE(_Console.WaitFor("  1 Living room lamp  Target 0 -> 1\n"));
    EXPECT_TRUE(_Console.WaitFor(
        "  1 Living room lamp  comment (none) -> Switched on\n"));
    _Console.WriteLine("history 42");
    EXPECT_TRUE(_Console.WaitForError(
        "veru-console: history 42: No such device in the history: 42\n"));
    EXPECT_EQ(0, Quit(&_Console));
  }
  m_Sim.Stop();  // the unit is away: the history is still there

  ProgramRun _Json = RunProgram({"--json", "--do", "history living ROOM lamp 30m"},
                                VERU_CONSOLE_PATH);
  EXPECT_EQ(0, _Json.iStatus) << _Json.sErrors;
  EXPECT_EQ(0u, _Json.sOutput.find("{\"event\":\"history\",\"time\":"))
      << _Json.sOutput;
  const char* kInOrder[] = {
      "\"device\":1,\"since\":",
      "\"changes\":[{\"time\":",
      "\"device\":1,\"name\":\"Living room lamp\",\"variable\":\"Status\","
      "\"previous\":null,\"value\":\"0\"}",
      "\"variable\":\"Status\",\"previous\":\"0\",\"value\":\"1\"}",
      "\"variable\":\"comment\",\"previous\":null,"
      "\"value\":\"Switched on\"}]}\n"};
  size_t iAt = 0;
  for (const char* sPart : kInOrder) {
    iAt = _Json.sOutput.find(sPart, iAt);
    EXPECT_NE(std::string::npos, iAt) << sPart << " in " << _Json.sOutput;
  }
  EXPECT_EQ(1u, CountOf(_Json.sOutput, "\n"));

  ProgramRun _Home = RunProgram({"--do", "history 5m", "--do", "history"},
                                VERU_CONSOLE_PATH);
  EXPECT_EQ(0, _Home.iStatus) << _Home.sErrors;
  EXPECT_EQ(2u, CountOf(_Home.sOutput, "  1 Living room lamp  Status 0 -> 1\n"))
      << _Home.sOutput;
  EXPECT_NE(std::string::npos, _Home.sOutput.find("  6 Front door  Armed (none) -> 1\n"));

  // Refused like a line that is not a command (2), and a file that cannot
  // be read (1).
  struct Case {
    std::vector<std::string> vecArguments;
    int iStatus;
    const char* sError;
  };
  const Case kCases[] = {
      {{"--do", "history 1 7w"}, 2, "not a span: 7w (45s, 30m, 6h, 7d)"},
      {{"--do", "history 1 0h"}, 2, "not a span: 0h"},
      {{"--do", "history Back door"}, 2, "No such device in the history: Back door"},
      {{"--history", "none.db", "--do", "history 1"}, 1,
       "history 1: none.db: No such file or directory"},
      {{"--history", "home.txt", "--do", "history"}, 1,
       "home.txt: is not a history file of veru-console"},
  };
  WriteFile("home.txt", "not a history\n");
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.vecArguments.back());
    ProgramRun _Run = RunProgram(_Case.vecArguments, VERU_CONSOLE_PATH);
    EXPECT_EQ(_Case.iStatus, _Run.iStatus);
    EXPECT_EQ("", _Run.sOutput);
    EXPECT_NE(std::string::npos, _Run.sErrors.find(_Case.sError)) << _Run.sErrors;
  }
  EXPECT_FALSE(FileExists("none.db"));
}

}  // namespace
