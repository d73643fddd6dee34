// Command lines typed on a terminal, for real: tmux runs veru-console
// against veru-sim in a terminal of a fixed size, the test types into it
// and reads the screen with capture-pane, waiting for what it expects with
// a deadline. tmux is started with an argument vector, never through a
// shell.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "tests/console_process.h"
#include "tests/sim_process.h"
#include "tests/test_util.h"

namespace {

const char kTmux[] = "/usr/bin/tmux";

// A tmux server of its own (a private socket, no configuration file) with
// one window running the console in the working folder, from a small
// script that, once the console ends, prints its exit status and `stty -a`,
// so the test sees the mode the terminal was given back in. Killed with
// everything in it at the end.
class TmuxConsole {
 public:
  TmuxConsole() {
    static std::atomic<int> s_iCount{0};
    m_sSocket = "veru-edit-" + std::to_string(getpid()) + "-" +
                std::to_string(s_iCount++);
  }
  ~TmuxConsole() { Tmux({"kill-server"}); }
  TmuxConsole(const TmuxConsole&) = delete;
  TmuxConsole& operator=(const TmuxConsole&) = delete;

  bool Start(const std::string& sFolder) {
    if (!WriteFile(sFolder + "/run.sh",
                   // Caught, not ignored, so the console still gets
                   // Ctrl-C and the script goes on to tell its end.
                   "trap : INT QUIT\n"
                   "\"$1\"\n"
                   "echo \"EXIT=$?\"\n"
                   "stty -a\n"
                   "echo \"STTY-DONE\"\n"
                   "exec sleep 600\n")) {
      return false;
    }
    Tmux({"new-session", "-d", "-s", "edit", "-x", "100", "-y", "30", "-c",
          sFolder, "/bin/sh", sFolder + "/run.sh", VERU_CONSOLE_PATH});
    return Tmux({"has-session", "-t", "edit"}).iStatus == 0;
  }
  // Everything the window has shown, its scrolled-off part included.
  std::string Everything() {
    return Tmux({"capture-pane", "-p", "-J", "-S", "-", "-t", "edit"}).sOutput;
  }
  // The rows on screen now, without the empty rows below the last one used.
  std::vector<std::string> Rows() {
    std::vector<std::string> vecRows;
    std::istringstream _Stream(
        Tmux({"capture-pane", "-p", "-t", "edit"}).sOutput);
    std::string sRow;
    while (std::getline(_Stream, sRow)) vecRows.push_back(sRow);
    while (!vecRows.empty() && vecRows.back().empty()) vecRows.pop_back();
    return vecRows;
  }
  std::string LastRow() {
    std::vector<std::string> vecRows = Rows();
    return vecRows.empty() ? std::string() : vecRows.back();
  }
  bool WaitFor(const std::string& sText, int iTimeoutMs = 15000) {
    return WaitUntil(
        [&] { return Everything().find(sText) != std::string::npos; },
        iTimeoutMs);
  }
  bool WaitForLastRow(const std::string& sRow, int iTimeoutMs = 15000) {
    return WaitUntil([&] { return LastRow() == sRow; }, iTimeoutMs);
  }
  // Literal text, as typed.
  void Type(const std::string& sText) {
    Tmux({"send-keys", "-t", "edit", "-l", sText});
  }
  // tmux key names ("Enter", "Up", "C-d").
  void Key(const std::string& sKey) { Tmux({"send-keys", "-t", "edit", sKey}); }
  // The console's exit status once it has ended, else -1.
  int ExitStatus() {
    std::string sScreen = Everything();
    size_t iAt = sScreen.find("\nEXIT=");
    return iAt == std::string::npos ? -1 : atoi(sScreen.c_str() + iAt + 6);
  }
  // After the end: true when `stty -a` shows the terminal in its ordinary
  // mode (canonical input, echo, signals, output processing).
  // The script prints EXIT= before `stty -a` runs: its whole output is
  // waited for.
  bool TerminalSane() {
    if (!WaitFor("\nSTTY-DONE")) return false;
    std::string sScreen = Everything();
    size_t iAt = sScreen.find("\nEXIT=");
    if (iAt == std::string::npos) return false;
    std::string sWords = " ";
    for (char c : sScreen.substr(iAt)) sWords += (c == '\n' || c == ';') ? ' ' : c;
    sWords += " ";
    for (const char* sFlag : {" icanon ", " echo ", " isig ", " opost ", " icrnl "}) {
      if (sWords.find(sFlag) == std::string::npos) return false;
    }
    return true;
  }

 private:
  ProgramRun Tmux(std::vector<std::string> vecArguments) {
    vecArguments.insert(vecArguments.begin(),
                        {"-L", m_sSocket, "-f", "/dev/null"});
    return RunProgram(vecArguments, kTmux);
  }

  std::string m_sSocket;
};

class LineEditingTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, access(kTmux, X_OK)) << "tmux is needed for this test";
    ASSERT_TRUE(m_Sim.Start());
    setenv("VERU_CA_CERTIFICATE", m_Sim.CaFile().c_str(), 1);
  }

  // Waits for the console to end; its exit status, or -1.
  int WaitForExit(TmuxConsole* pConsole) {
    int iStatus = -1;
    WaitUntil([&] { return (iStatus = pConsole->ExitStatus()) >= 0; }, 15000);
    return iStatus;
  }

  // The lines of the history file.
  std::string History() { return ReadFile(".veru_history"); }

  ScopedEnv m_CaFile{"VERU_CA_CERTIFICATE", nullptr};
  ScratchDir m_Dir;
  SimProcess m_Sim;
};

// The line being typed stays whole on the last row while the poll thread's
// lines scroll above it; Up recalls the line before; Ctrl-D on an empty
// line ends the console as the end of input does, with the terminal as it
// was.
TEST_F(LineEditingTest, TheTypedLineStaysWholeWhileThePollThreadPrints) {
  StoreDemoUnitSettings("127.0.0.5", false, "L", "");
  TmuxConsole _Console;
  ASSERT_TRUE(_Console.Start(m_Dir.Path()));
  ASSERT_TRUE(_Console.WaitFor("======================FULLDATA:"))
      << _Console.Everything();

  _Console.Type("1 of");
  ASSERT_TRUE(_Console.WaitForLastRow("1 of")) << _Console.Everything();
  // Changes in the home end the long poll: the poll thread prints while the
  // line is being typed.
  size_t iDevicesBefore = CountOf(_Console.Everything(), "---DEVICE");
  for (int i = 0; i < 3; ++i) {
    m_Sim.Control("change");
    ASSERT_TRUE(WaitUntil([&] {
      return CountOf(_Console.Everything(), "---DEVICE") > iDevicesBefore;
    })) << _Console.Everything();
    iDevicesBefore = CountOf(_Console.Everything(), "---DEVICE");
    std::vector<std::string> vecRows = _Console.Rows();
    ASSERT_FALSE(vecRows.empty());
    EXPECT_EQ("1 of", vecRows.back()) << _Console.Everything();
    // No row above holds a part of it.
    for (size_t iRow = 0; iRow + 1 < vecRows.size(); ++iRow) {
      EXPECT_EQ(std::string::npos, vecRows[iRow].find("1 of"))
          << vecRows[iRow];
    }
  }
  _Console.Type("f");
  _Console.Key("Enter");
  ASSERT_TRUE(_Console.WaitFor("----COMMAND RESULT: 0")) << _Console.Everything();
  size_t iResults = CountOf(_Console.Everything(), "----COMMAND RESULT: 0");

  // Up: the line before, to run again.
  _Console.Key("Up");
  ASSERT_TRUE(_Console.WaitForLastRow("1 off")) << _Console.Everything();
  _Console.Key("Enter");
  ASSERT_TRUE(WaitUntil([&] {
    return CountOf(_Console.Everything(), "----COMMAND RESULT: 0") > iResults;
  })) << _Console.Everything();
  EXPECT_EQ(std::string::npos, _Console.Everything().find("Unknown command"))
      << _Console.Everything();

  _Console.Key("C-d");
  EXPECT_EQ(0, WaitForExit(&_Console)) << _Console.Everything();
  EXPECT_TRUE(_Console.TerminalSane()) << _Console.Everything();
}

// Ctrl-C while a line is being edited ends the console as SIGINT does,
// with the terminal given back in its ordinary mode.
TEST_F(LineEditingTest, CtrlCWhileALineIsEditedGivesTheTerminalBack) {
  StoreDemoUnitSettings("127.0.0.5", false, "L", "");
  TmuxConsole _Console;
  ASSERT_TRUE(_Console.Start(m_Dir.Path()));
  ASSERT_TRUE(_Console.WaitFor("======================FULLDATA:"))
      << _Console.Everything();
  _Console.Type("1 o");
  ASSERT_TRUE(_Console.WaitForLastRow("1 o")) << _Console.Everything();
  _Console.Key("C-c");
  EXPECT_EQ(130, WaitForExit(&_Console)) << _Console.Everything();
  EXPECT_TRUE(_Console.TerminalSane()) << _Console.Everything();
}

// The history is kept in the working folder and comes back at the next
// start; the password question's answer is never in it, nor the line that
// only called the question up.
TEST_F(LineEditingTest, HistorySurvivesARestartAndNeverHoldsThePassword) {
  const std::string sPassword = "demo";
  StoreDemoUnitSettings("127.0.0.5", true, "R", "");
  {
    TmuxConsole _Console;
    ASSERT_TRUE(_Console.Start(m_Dir.Path()));
    ASSERT_TRUE(_Console.WaitFor("PASSWORD NEEDED:  PRESS ENTER"))
        << _Console.Everything();
    _Console.Type("call-up-line");
    _Console.Key("Enter");
    ASSERT_TRUE(_Console.WaitFor("What is your verunet password?"))
        << _Console.Everything();
    _Console.Type(sPassword);
    _Console.Key("Enter");
    ASSERT_TRUE(_Console.WaitFor("Do you want to save this password? [Y/n]"))
        << _Console.Everything();
    _Console.Type("n");
    _Console.Key("Enter");
    ASSERT_TRUE(_Console.WaitFor("======================FULLDATA:"))
        << _Console.Everything();
    // The password was not shown as it was typed.
    EXPECT_EQ(std::string::npos,
              _Console.Everything().find("password?" + sPassword))
        << _Console.Everything();
    _Console.Type("1 on");
    _Console.Key("Enter");
    ASSERT_TRUE(_Console.WaitFor("----COMMAND RESULT: 0")) << _Console.Everything();
    _Console.Type("quit");
    _Console.Key("Enter");
    EXPECT_EQ(0, WaitForExit(&_Console)) << _Console.Everything();
  }
  std::string sHistory = History();
  EXPECT_NE(std::string::npos, sHistory.find("on")) << sHistory;
  EXPECT_EQ(std::string::npos, sHistory.find(sPassword)) << sHistory;
  EXPECT_EQ(std::string::npos, sHistory.find("call-up-line")) << sHistory;
  EXPECT_EQ(0600u, FileMode(".veru_history"));

  // The next start, locally this time: Up twice gives the first line.
  StoreDemoUnitSettings("127.0.0.5", false, "L", "");
  TmuxConsole _Console;
  ASSERT_TRUE(_Console.Start(m_Dir.Path()));
  ASSERT_TRUE(_Console.WaitFor("======================FULLDATA:"))
      << _Console.Everything();
  _Console.Key("Up");
  ASSERT_TRUE(_Console.WaitForLastRow("quit")) << _Console.Everything();
  _Console.Key("Up");
  ASSERT_TRUE(_Console.WaitForLastRow("1 on")) << _Console.Everything();
  _Console.Key("Enter");
  ASSERT_TRUE(_Console.WaitFor("----COMMAND RESULT: 0")) << _Console.Everything();
  _Console.Key("C-d");
  EXPECT_EQ(0, WaitForExit(&_Console)) << _Console.Everything();
}

}  // namespace
