// The full-screen view for real: tmux runs `veru-console --screen` against
// veru-sim in a terminal of a fixed size, and the test reads the screen with
// capture-pane, waiting for what it expects with a deadline. The console
// runs from a small script that, once it ends, prints its exit status,
// `stty -a` and a last line, so the test sees the mode the terminal was
// given back in once all of it is there.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/console_process.h"
#include "tests/sim_process.h"
#include "tests/test_util.h"

namespace {

// Single quotes for the shell that runs the script in the pane.
std::string Quoted(const std::string& sText) {
  std::string sQuoted = "'";
  for (char c : sText) {
    if (c == '\'') {
      sQuoted += "'\\''";
    } else {
      sQuoted += c;
    }
  }
  return sQuoted + "'";
}

// A tmux server of its own (a private socket, no configuration file) with
// one session running one command line; killed with everything in it at
// the end. Each tmux command runs from its words, with no shell between.
class TmuxSession {
 public:
  TmuxSession() {
    static std::atomic<int> s_iCount{0};
    m_vecServer = {"-L",
                   "veru-screen-" + std::to_string(getpid()) + "-" +
                       std::to_string(s_iCount++),
                   "-f", "/dev/null"};
  }
  ~TmuxSession() { Tmux({"kill-server"}); }

  bool Start(const std::string& sCommand, int iWidth, int iHeight) {
    Tmux({"new-session", "-d", "-s", "view", "-x", std::to_string(iWidth),
          "-y", std::to_string(iHeight), sCommand});
    return Tmux({"has-session", "-t", "view"}).iStatus == 0;
  }
  // The screen as text (bEscapes: with the attributes' escape sequences).
  std::string Capture(bool bEscapes = false) {
    std::vector<std::string> vecWords = {"capture-pane", "-p"};
    if (bEscapes) vecWords.push_back("-e");
    vecWords.insert(vecWords.end(), {"-t", "view"});
    return Tmux(vecWords).sOutput;
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> vecLines;
    std::istringstream _Stream(Capture());
    std::string sLine;
    while (std::getline(_Stream, sLine)) vecLines.push_back(sLine);
    return vecLines;
  }
  bool WaitFor(const std::string& sText, int iTimeoutMs = 15000) {
    return WaitUntil([&] { return Capture().find(sText) != std::string::npos; },
                     iTimeoutMs);
  }
  // tmux key names separated by spaces ("Home Space", "Escape", "Enter").
  void Keys(const std::string& sKeys) {
    std::vector<std::string> vecWords = {"send-keys", "-t", "view"};
    std::istringstream _Keys(sKeys);
    std::string sKey;
    while (_Keys >> sKey) vecWords.push_back(sKey);
    Tmux(vecWords);
  }
  // Literal text.
  void Text(const std::string& sText) {
    Tmux({"send-keys", "-t", "view", "-l", sText});
  }
  void Resize(int iWidth, int iHeight) {
    Tmux({"resize-window", "-t", "view", "-x", std::to_string(iWidth), "-y",
          std::to_string(iHeight)});
  }

 private:
  // Runs tmux on this server with vecWords after the server's own words.
  ProgramRun Tmux(std::vector<std::string> vecWords) {
    vecWords.insert(vecWords.begin(), m_vecServer.begin(), m_vecServer.end());
    return RunProgram(vecWords, "tmux");
  }

  std::vector<std::string> m_vecServer;
};

// The unit's variables as the simulator's dump tells them, by device.
std::map<int, std::map<std::string, std::string>> ParseDump(const std::string& sDump) {
  std::map<int, std::map<std::string, std::string>> mapDevices;
  std::istringstream _Stream(sDump);
  std::string sLine;
  int iDevice = 0;
  while (std::getline(_Stream, sLine)) {
    if (sLine.compare(0, 10, "---DEVICE ") == 0) {
      iDevice = atoi(sLine.c_str() + 10);
      mapDevices[iDevice];
    } else if (sLine.compare(0, 3, "   ") == 0 && sLine.find('=') != std::string::npos) {
      size_t iEqual = sLine.find('=');
      mapDevices[iDevice][sLine.substr(3, iEqual - 3)] = sLine.substr(iEqual + 1);
    }
  }
  return mapDevices;
}

// The screen line of device iID's row ("  NN  Name ..."), or -1.
int RowOf(const std::vector<std::string>& vecLines, int iID) {
  std::string sID = std::to_string(iID) + "  ";
  for (size_t i = 0; i < vecLines.size(); ++i) {
    const std::string& sLine = vecLines[i];
    if (sLine.size() < 3 || (sLine[0] != '>' && sLine[0] != ' ') ||
        (sLine[1] != '*' && sLine[1] != ' ')) {
      continue;
    }
    size_t iStart = sLine.find_first_not_of(' ', 2);
    if (iStart != std::string::npos && iStart >= 2 &&
        sLine.compare(iStart, sID.size(), sID) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// The words of a text, split at blanks, line ends and semicolons.
std::vector<std::string> Words(const std::string& sText) {
  std::vector<std::string> vecWords;
  std::string sWord;
  for (char c : sText + " ") {
    if (c == ' ' || c == '\n' || c == ';' || c == '\t') {
      if (!sWord.empty()) vecWords.push_back(sWord);
      sWord.clear();
    } else {
      sWord += c;
    }
  }
  return vecWords;
}

// The terminal's mode after the program, as `stty -a` printed it, has
// echo and canonical input on.
bool SaneMode(const std::string& sScreen) {
  std::vector<std::string> vecWords = Words(sScreen);
  auto Has = [&](const char* sWord) {
    for (const std::string& sFound : vecWords) {
      if (sFound == sWord) return true;
    }
    return false;
  };
  return Has("icanon") && Has("echo");
}

// True when the text holds an SGR sequence that sets a foreground colour
// (30-37, 90-97, or 38;...).
bool HasColour(const std::string& sText) {
  size_t i = 0;
  while ((i = sText.find("\x1b[", i)) != std::string::npos) {
    i += 2;
    size_t iEnd = sText.find_first_not_of("0123456789;", i);
    if (iEnd == std::string::npos || sText[iEnd] != 'm') continue;
    std::string sParameters = sText.substr(i, iEnd - i);
    std::istringstream _Stream(sParameters);
    std::string sParameter;
    while (std::getline(_Stream, sParameter, ';')) {
      int iValue = atoi(sParameter.c_str());
      if (sParameter.empty()) continue;
      if ((iValue >= 30 && iValue <= 38) || (iValue >= 90 && iValue <= 97)) return true;
    }
  }
  return false;
}

// The SGR codes in force where sText first shows after sAfter on a screen
// captured with its escapes (capture-pane -e, which leaves out what the
// line before set already): 1 bold, 2 dim, 31 red, 38 another colour; {-1}
// when the text is not there.
std::set<int> CodesAt(const std::string& sLine, const std::string& sAfter,
                      const std::string& sText) {
  std::string sVisible;
  std::vector<std::set<int>> vecCodes;  // in force at each visible byte
  std::set<int> setCodes;
  size_t i = 0;
  while (i < sLine.size()) {
    if (sLine.compare(i, 2, "\x1b[") != 0) {
      sVisible += sLine[i++];
      vecCodes.push_back(setCodes);
      continue;
    }
    size_t iEnd = sLine.find_first_not_of("0123456789;:", i + 2);
    if (iEnd == std::string::npos) break;
    if (sLine[iEnd] == 'm') {
      std::vector<int> vecParameters;
      std::istringstream _Stream(sLine.substr(i + 2, iEnd - i - 2));
      std::string sParameter;
      while (std::getline(_Stream, sParameter, ';')) vecParameters.push_back(atoi(sParameter.c_str()));
      if (vecParameters.empty()) vecParameters.push_back(0);
      for (size_t j = 0; j < vecParameters.size(); ++j) {
        int iCode = vecParameters[j];
        auto DropColours = [&] {
          for (auto it = setCodes.begin(); it != setCodes.end();) {
            bool bColour = (*it >= 30 && *it <= 38) || (*it >= 90 && *it <= 97);
            it = bColour ? setCodes.erase(it) : std::next(it);
          }
        };
        if (iCode == 0) {
          setCodes.clear();
        } else if (iCode == 22) {
          setCodes.erase(1);
          setCodes.erase(2);
        } else if (iCode == 39) {
          DropColours();
        } else if (iCode == 38 || iCode == 48) {
          if (iCode == 38) {
            DropColours();
            setCodes.insert(38);
          }
          j += j + 1 < vecParameters.size() && vecParameters[j + 1] == 5 ? 2 : 4;
        } else if ((iCode >= 30 && iCode <= 37) || (iCode >= 90 && iCode <= 97)) {
          DropColours();
          setCodes.insert(iCode);
        } else if (iCode >= 20 && iCode <= 29) {
          setCodes.erase(iCode - 20);
        } else {
          setCodes.insert(iCode);
        }
      }
    }
    i = iEnd + 1;
  }
  size_t iAt = sVisible.find(sAfter);
  if (iAt != std::string::npos) iAt = sVisible.find(sText, iAt);
  return iAt == std::string::npos ? std::set<int>{-1} : vecCodes[iAt];
}

class ScreenTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(m_Sim.Start());
    WriteFile("arg_serialnumber", "45001");
    WriteFile("arg_username", "demo");
    WriteFile("arg_ip", "127.0.0.5");
    WriteFile("arg_usingremote", "0");
    WriteFile("arg_mode", "L");
  }

  // Starts the view in tmux; sEnvironment is put before the program. With
  // sWaitFor empty it does not wait for the home to be shown.
  void StartView(const std::string& sEnvironment = "", int iWidth = 100,
                 int iHeight = 30, const std::string& sWaitFor = "Living room lamp",
                 const std::string& sProgram = VERU_CONSOLE_PATH) {
    std::string sScript =
        "cd " + Quoted(m_Dir.Path()) + "\n"
        // The program frees nothing at exit by design: no leak report.
        "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\"\n"
        "sh -c 'echo $$ > console.pid; exec env " + sEnvironment + " \"$0\" --screen' " +
        Quoted(sProgram) + "\n"
        "echo \"EXIT=$?\"\n"
        "stty -a\n"
        "echo \"RUN ENDED\"\n"
        "exec sleep 600\n";
    ASSERT_TRUE(WriteFile("run.sh", sScript));
    ASSERT_TRUE(m_Tmux.Start("sh " + m_Dir.Path() + "/run.sh", iWidth, iHeight));
    if (!sWaitFor.empty()) {
      ASSERT_TRUE(m_Tmux.WaitFor(sWaitFor)) << m_Tmux.Capture();
    }
  }

  // Waits until the program has ended (each change at the simulator ends the
  // long poll in flight) and returns what the pane shows then.
  std::string WaitForEnd() {
    WaitUntil([&] {
      m_Sim.Control("change");
      return m_Tmux.Capture().find("RUN ENDED") != std::string::npos;
    });
    return m_Tmux.Capture();
  }

  // Waits until fCondition holds for a view on the test clock. Its time
  // stands still while a long poll waits, and so does its drawing (a frame
  // waits for the clock to pass the least spacing of frames); a change at
  // the unit, five times a second, ends each poll and moves the clock on.
  bool WaitOnTestClock(const std::function<bool()>& fCondition) {
    auto tPoked = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    return WaitUntil([&] {
      if (std::chrono::steady_clock::now() - tPoked > std::chrono::milliseconds(200)) {
        m_Sim.Control("set&device=18&variable=CurrentLevel&value=300");
        tPoked = std::chrono::steady_clock::now();
      }
      return fCondition();
    });
  }

  pid_t ConsolePid() { return static_cast<pid_t>(atoi(ReadFile("console.pid").c_str())); }

  ScratchDir m_Dir;
  SimProcess m_Sim;
  TmuxSession m_Tmux;
};

// The home is on the screen and lives: a change at the simulator shows in
// its row, in place; Space switches the selected lamp at the unit; "/" and
// ":" work; a resize lays it out again; q gives the terminal back sane.
TEST_F(ScreenTest, ShowsTheHomeInPlaceAndActsOnKeys) {
  StartView();
  std::string sScreen = m_Tmux.Capture();
  for (const char* sRoom : {"Living room", "Kitchen", "Bedroom", "Hall", "Garage", "Garden"}) {
    EXPECT_NE(std::string::npos, sScreen.find(sRoom)) << sRoom << "\n" << sScreen;
  }
  EXPECT_TRUE(m_Tmux.WaitFor("connected")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("Unit 45001")) << m_Tmux.Capture();

  // A change made at the simulator, of a kind the row shows in full.
  std::vector<std::string> vecBefore = m_Tmux.Lines();
  std::map<int, std::map<std::string, std::string>> mapBefore = ParseDump(m_Sim.Control("dump"));
  int iChanged = 0;
  std::string sShown;
  for (int i = 0; i < 50 && iChanged == 0; ++i) {
    m_Sim.Control("change");
    auto mapAfter = ParseDump(m_Sim.Control("dump"));
    for (const auto& device : mapAfter) {
      if (device.second == mapBefore[device.first]) continue;
      auto it = device.second.find("Status");
      if (it != device.second.end()) {
        iChanged = device.first;
        sShown = it->second == "1" ? "on" : "off";
      } else if (device.second.count("CurrentTemperature") != 0) {
        iChanged = device.first;
        sShown = "temp " + device.second.at("CurrentTemperature");
      }
    }
    mapBefore = mapAfter;
  }
  ASSERT_NE(0, iChanged);
  int iRow = RowOf(vecBefore, iChanged);
  ASSERT_GT(iRow, 0) << m_Tmux.Capture();
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<std::string> vecLines = m_Tmux.Lines();
    return static_cast<int>(vecLines.size()) > iRow &&
           vecLines[static_cast<size_t>(iRow)].find(sShown) != std::string::npos;
  })) << "device " << iChanged << " " << sShown << "\n" << m_Tmux.Capture();
  std::vector<std::string> vecAfter = m_Tmux.Lines();
  EXPECT_EQ(vecBefore[0].substr(0, 10), vecAfter[0].substr(0, 10));
  for (int iID = 1; iID <= 20; ++iID) {
    EXPECT_EQ(RowOf(vecBefore, iID), RowOf(vecAfter, iID)) << "device " << iID;
  }
  EXPECT_EQ('*', vecAfter[static_cast<size_t>(iRow)][1]) << vecAfter[static_cast<size_t>(iRow)];

  // Space on the lamp the view selects first: the opposite of its row.
  bool bLampOn = ParseDump(m_Sim.Control("dump"))[1]["Status"] == "1";
  m_Tmux.Keys("Home Space");
  ASSERT_TRUE(WaitUntil([&] {
    return ParseDump(m_Sim.Control("dump"))[1]["Status"] == (bLampOn ? "0" : "1");
  })) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor(bLampOn ? "1 off: done" : "1 on: done")) << m_Tmux.Capture();

  // ":" takes a console command.
  m_Tmux.Keys(":");
  m_Tmux.Text("7 on");
  m_Tmux.Keys("Enter");
  ASSERT_TRUE(WaitUntil([&] { return ParseDump(m_Sim.Control("dump"))[7]["Status"] == "1"; }))
      << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("7 on: done")) << m_Tmux.Capture();

  // "/" filters by a part of the name; Esc clears it.
  m_Tmux.Keys("/");
  m_Tmux.Text("GARAGE");
  m_Tmux.Keys("Enter");
  ASSERT_TRUE(WaitUntil([&] {
    std::string sText = m_Tmux.Capture();
    return sText.find("Garage camera") != std::string::npos &&
           sText.find("Living room lamp") == std::string::npos;
  })) << m_Tmux.Capture();
  EXPECT_EQ(std::string::npos, m_Tmux.Capture().find("Water valve"));
  m_Tmux.Keys("Escape");
  ASSERT_TRUE(m_Tmux.WaitFor("Living room lamp")) << m_Tmux.Capture();

  // A smaller terminal: laid out again, narrower, the key line at its foot.
  m_Tmux.Resize(50, 14);
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<std::string> vecLines = m_Tmux.Lines();
    return vecLines.size() == 14 && vecLines[13].find("move") != std::string::npos &&
           vecLines[2].find("Living room lamp") != std::string::npos;
  })) << m_Tmux.Capture();
  m_Tmux.Resize(100, 30);
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<std::string> vecLines = m_Tmux.Lines();
    return vecLines.size() == 30 && vecLines[29].find("q quit") != std::string::npos;
  })) << m_Tmux.Capture();

  m_Tmux.Keys("q");
  std::string sEnd = WaitForEnd();
  EXPECT_NE(std::string::npos, sEnd.find("EXIT=0")) << sEnd;
  EXPECT_TRUE(SaneMode(sEnd)) << sEnd;
}

// The unit stops for longer than the give-up (on the test clock the minute
// passes at once): the view stays, says the connection is lost, and when
// the unit starts again it says so in its header and follows the home.
// Quit after the outage ended gives 0.
TEST_F(ScreenTest, StaysThroughAnOutagePastTheGiveUp) {
  StartView("", 100, 30, "Living room lamp", VERU_CONSOLE_TESTCLOCK_PATH);
  ASSERT_TRUE(m_Tmux.WaitFor("connected")) << m_Tmux.Capture();
  ASSERT_EQ("ok\n", m_Sim.Control("stop_local"));
  // The give-up comes after some forty failed fetches, each a real wget:
  // on a loaded machine (a sanitizer build) that takes a while.
  ASSERT_TRUE(m_Tmux.WaitFor("| lost |", 90000)) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("still looking for the unit")) << m_Tmux.Capture();
  EXPECT_EQ(std::string::npos, m_Tmux.Capture().find("EXIT="));
  // A change meanwhile, so the unit answers the first poll at once.
  ASSERT_EQ("ok\n", m_Sim.Control("change"));
  ASSERT_EQ("ok\n", m_Sim.Control("start_local"));
  ASSERT_TRUE(m_Tmux.WaitFor("Connection restored after")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("| connected |")) << m_Tmux.Capture();
  // Followed again: the lamp switched at the unit shows in its row.
  m_Tmux.Keys(":");
  m_Tmux.Text("1 on");
  m_Tmux.Keys("Enter");
  ASSERT_TRUE(WaitUntil([&] { return ParseDump(m_Sim.Control("dump"))[1]["Status"] == "1"; }))
      << m_Tmux.Capture();
  m_Tmux.Keys("q");
  std::string sEnd = WaitForEnd();
  EXPECT_NE(std::string::npos, sEnd.find("EXIT=0")) << sEnd;
  EXPECT_TRUE(SaneMode(sEnd)) << sEnd;
}

// Colour only when asked for none is not: NO_COLOR=1 leaves no colour
// escape on the screen, while the same screen without it has colours.
TEST_F(ScreenTest, NoColourMeansNoColourEscapes) {
  StartView("NO_COLOR=1");
  ASSERT_TRUE(m_Tmux.WaitFor("connected"));
  std::string sPlain = m_Tmux.Capture(true);
  EXPECT_FALSE(HasColour(sPlain)) << sPlain;
  EXPECT_NE(std::string::npos, sPlain.find("\x1b[")) << "no attributes at all";
  m_Tmux.Keys("q");
  WaitForEnd();
}

TEST_F(ScreenTest, ColoursWhenTheTerminalHasThem) {
  StartView("NO_COLOR=");
  ASSERT_TRUE(m_Tmux.WaitFor("connected"));
  std::string sColoured = m_Tmux.Capture(true);
  EXPECT_TRUE(HasColour(sColoured)) << sColoured;
  m_Tmux.Keys("q");
  WaitForEnd();
}

// SIGTERM ends the view with status 128 + 15 and the terminal sane.
TEST_F(ScreenTest, SignalGivesTheTerminalBack) {
  StartView();
  ASSERT_EQ(0, kill(ConsolePid(), SIGTERM));
  std::string sEnd = WaitForEnd();
  EXPECT_NE(std::string::npos, sEnd.find("EXIT=143")) << sEnd;
  EXPECT_TRUE(SaneMode(sEnd)) << sEnd;
}

// Remote access without a saved password: the view asks for it on its
// message line and shows nothing of what is typed; given, the home comes.
TEST_F(ScreenTest, AsksForThePasswordWithoutEcho) {
  WriteFile("arg_usingremote", "1");
  WriteFile("arg_mode", "R");
  WriteFile("arg_fwd_active", "127.0.0.1:3443");
  StartView("VERU_CA_CERTIFICATE=" + Quoted(m_Sim.CaFile()), 100, 30,
            "Password (not shown):");
  EXPECT_TRUE(m_Tmux.WaitFor("password needed")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("remote via 127.0.0.1:3443")) << m_Tmux.Capture();
  m_Tmux.Text("demo");
  ASSERT_TRUE(WaitUntil([&] { return m_Tmux.Capture().find("demo") == std::string::npos; }));
  m_Tmux.Keys("Enter");
  ASSERT_TRUE(m_Tmux.WaitFor("Living room lamp")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("connected")) << m_Tmux.Capture();
  EXPECT_EQ(std::string::npos, m_Tmux.Capture().find("demo")) << m_Tmux.Capture();
  m_Tmux.Keys("q");
  EXPECT_NE(std::string::npos, WaitForEnd().find("EXIT=0"));
}

// No unit saved: the wizard runs first on the plain terminal, then the view
// starts with the unit chosen.
TEST_F(ScreenTest, WizardRunsFirstWhenNoUnitIsSaved) {
  for (const char* sFile : {"arg_serialnumber", "arg_username", "arg_ip",
                            "arg_usingremote", "arg_mode"}) {
    ASSERT_EQ(0, unlink(sFile));
  }
  StartView("", 100, 30, "What is your verunet username");
  m_Tmux.Text("127.0.0.5");
  m_Tmux.Keys("Enter");
  ASSERT_TRUE(m_Tmux.WaitFor("Living room lamp")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("local 127.0.0.5")) << m_Tmux.Capture();
  EXPECT_EQ(std::string::npos, m_Tmux.Capture().find("What is your")) << m_Tmux.Capture();
  m_Tmux.Keys("q");
  EXPECT_NE(std::string::npos, WaitForEnd().find("EXIT=0"));
}

// A terminal of a type the terminal library does not know: one line on
// standard error and status 2, before anything else is done.
TEST_F(ScreenTest, UnknownTerminalTypeIsRefused) {
  StartView("TERM=no-such-terminal", 100, 30, "EXIT=");
  std::string sScreen = m_Tmux.Capture();
  EXPECT_NE(std::string::npos, sScreen.find("veru-console: --screen does not know the "
                                            "terminal type 'no-such-terminal'"))
      << sScreen;
  EXPECT_NE(std::string::npos, sScreen.find("EXIT=2")) << sScreen;
  EXPECT_EQ(std::string::npos, sScreen.find("Staring the main loop")) << sScreen;
}

// The ceiling light, a dimmer: quick presses of + add up at the unit, and
// Space switches it off and back on to its level. + on a plain switch says
// it cannot dim. Backspace on the ':' line takes one character, however
// many bytes it has. After q the terminal holds no line of a fetch.
TEST_F(ScreenTest, DimmerStepsAddUpAndSwitchesOnAndOff) {
  StartView("LC_ALL=C.UTF-8");  // keys beyond ASCII come as characters
  ASSERT_TRUE(m_Tmux.WaitFor("connected")) << m_Tmux.Capture();
  auto Level = [&] { return ParseDump(m_Sim.Control("dump"))[2]["LoadLevelStatus"]; };
  auto Row = [&](int iID) {
    std::vector<std::string> vecLines = m_Tmux.Lines();
    int iRow = RowOf(vecLines, iID);
    return iRow < 0 ? std::string() : vecLines[static_cast<size_t>(iRow)];
  };
  ASSERT_EQ("0", Level());
  m_Tmux.Keys("Home Down");
  ASSERT_TRUE(WaitUntil([&] { return Row(2).compare(0, 1, ">") == 0; })) << m_Tmux.Capture();
  m_Tmux.Keys("+ + +");
  ASSERT_TRUE(m_Tmux.WaitFor("2 dim 30: done")) << m_Tmux.Capture();
  EXPECT_EQ("30", Level());
  ASSERT_TRUE(WaitUntil([&] { return Row(2).find(" on 30%") != std::string::npos; }))
      << m_Tmux.Capture();
  m_Tmux.Keys("Space");
  ASSERT_TRUE(WaitUntil([&] { return Row(2).find(" off 0%") != std::string::npos; }))
      << m_Tmux.Capture();
  EXPECT_EQ("0", Level());
  m_Tmux.Keys("Space");
  ASSERT_TRUE(WaitUntil([&] { return Row(2).find(" on 30%") != std::string::npos; }))
      << m_Tmux.Capture();
  EXPECT_EQ("30", Level());
  EXPECT_TRUE(m_Tmux.WaitFor("2 on: done")) << m_Tmux.Capture();

  m_Tmux.Keys("Up +");
  ASSERT_TRUE(m_Tmux.WaitFor("Device 1 cannot dim")) << m_Tmux.Capture();

  m_Tmux.Keys(":");
  m_Tmux.Text("7 on\xc3\xbc");
  m_Tmux.Keys("BSpace Enter");
  ASSERT_TRUE(m_Tmux.WaitFor("7 on: done")) << m_Tmux.Capture();
  EXPECT_EQ("1", ParseDump(m_Sim.Control("dump"))[7]["Status"]);

  m_Tmux.Keys("q");
  std::string sEnd = WaitForEnd();
  EXPECT_NE(std::string::npos,
            sEnd.find("Staring the main loop\nMainLoop exiting\nEXIT=0\n")) << sEnd;
  EXPECT_EQ(std::string::npos, sEnd.find("GET:")) << sEnd;
}

// Space on a scene row runs the scene: "Away" (the last row) arms the
// bedroom window at the unit.
TEST_F(ScreenTest, SpaceOnASceneRunsIt) {
  StartView();
  ASSERT_TRUE(m_Tmux.WaitFor("connected")) << m_Tmux.Capture();
  ASSERT_EQ("0", ParseDump(m_Sim.Control("dump"))[16]["Armed"]);
  m_Tmux.Keys("End Space");
  ASSERT_TRUE(m_Tmux.WaitFor("scene 3: done")) << m_Tmux.Capture();
  EXPECT_TRUE(WaitUntil(
      [&] { return ParseDump(m_Sim.Control("dump"))[16]["Armed"] == "1"; }));
  m_Tmux.Keys("q");
  std::string sEnd = WaitForEnd();
  EXPECT_NE(std::string::npos, sEnd.find("EXIT=0\n")) << sEnd;
}

// When the unit refuses the user name or password, the view offers the
// wizard on its message line, and the answer takes a line: a key alone
// answers nothing, Enter does, and nothing typed meanwhile reaches the
// wizard's questions.
TEST_F(ScreenTest, WizardOfferTakesALine) {
  WriteFile("arg_usingremote", "1");
  WriteFile("arg_mode", "R");
  WriteFile("arg_fwd_active", "127.0.0.1:3443");
  WriteFile("arg_pass", "wrong");
  StartView("VERU_CA_CERTIFICATE=" + Quoted(m_Sim.CaFile()), 100, 30,
            "Run the connection wizard? [Y/n]");
  m_Tmux.Text("Y");
  ASSERT_TRUE(m_Tmux.WaitFor("[Y/n] Y")) << m_Tmux.Capture();
  EXPECT_EQ(std::string::npos, m_Tmux.Capture().find("What is your")) << m_Tmux.Capture();
  m_Tmux.Keys("Enter z z");  // the z keys come ahead of the wizard
  ASSERT_TRUE(m_Tmux.WaitFor("What is your verunet username")) << m_Tmux.Capture();
  m_Tmux.Text("127.0.0.5");
  m_Tmux.Keys("Enter");
  ASSERT_TRUE(m_Tmux.WaitFor("local 127.0.0.5")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("Living room lamp")) << m_Tmux.Capture();
  EXPECT_EQ("127.0.0.5", ReadFile("arg_ip"));
  m_Tmux.Keys("q");
  EXPECT_NE(std::string::npos, WaitForEnd().find("EXIT=0"));
}

// Without a terminal, or with an option it does not go with, --screen is
// refused with status 2 and one line on standard error.
TEST(ScreenOptions, RefusedWithoutATerminalOrWithScriptOptions) {
  ScratchDir _Dir;
  struct Case {
    std::vector<std::string> vecArguments;
    const char* sError;
  };
  const Case kCases[] = {
      {{"--screen"}, "standard input and output on a terminal"},
      {{"-s", "--json"}, "options that do not go together '--screen --json'"},
      {{"--once", "--screen"}, "options that do not go together '--screen --once'"},
      {{"--screen", "--do", "1 on"}, "options that do not go together '--screen --do'"},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sError);
    ConsoleProcess _Console;
    _Console.KeepErrorsApart();
    ASSERT_TRUE(_Console.StartWithArguments(VERU_CONSOLE_PATH, _Case.vecArguments));
    EXPECT_EQ(2, _Console.WaitForExit());
    EXPECT_NE(std::string::npos, _Console.Errors().find(_Case.sError)) << _Console.Errors();
    EXPECT_EQ("", _Console.Output());
  }
}

// The detail page tells the device's history: a sparkline of the last day
// for each variable whose values are numbers, with its least, greatest and
// last value, and the recent changes. The lamp switched with Space is in it.
TEST_F(ScreenTest, DetailPageShowsTheHistoryWithSparklines) {
  StartView();
  m_Tmux.Keys("Home Space");
  ASSERT_TRUE(m_Tmux.WaitFor("1 on: done")) << m_Tmux.Capture();
  m_Tmux.Keys("Enter");
  // The page reads the history when it opens and every few seconds after.
  ASSERT_TRUE(m_Tmux.WaitFor("History (last 24 h)")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("Status 0 -> 1")) << m_Tmux.Capture();
  EXPECT_TRUE(m_Tmux.WaitFor("Recent changes")) << m_Tmux.Capture();
  std::string sStatus;
  for (const std::string& sLine : m_Tmux.Lines()) {
    if (sLine.find("  Status  ") == 0) sStatus = sLine;
  }
  // Blank before the first value, then the line; its range and last value.
  EXPECT_NE(std::string::npos, sStatus.find("       ")) << m_Tmux.Capture();
  EXPECT_TRUE(EndsWith(sStatus.substr(0, sStatus.find_last_not_of(' ') + 1),
                       "  0..1 last 1"))
      << m_Tmux.Capture();
  m_Tmux.Keys("q");
  EXPECT_NE(std::string::npos, WaitForEnd().find("EXIT=0"));
}

// The list at a glance in a terminal of iWidth x 24, on the test clock
// (its time starts at 1700000000): the kitchen motion sensor tripped 200 s
// before that, the ceiling light dimmed to 30 %. Each row tells its
// device's state in words, the tripped sensor in the alarm colour (bold
// without colours), the ends of the list are marked, and the filter in
// force is in the header.
void CheckGlance(ScreenTest* pTest, int iWidth, bool bColour) {
  SimProcess& _Sim = pTest->m_Sim;
  TmuxSession& _Tmux = pTest->m_Tmux;
  for (const char* sSet : {"device=4&variable=Tripped&value=1",
                           "device=4&variable=LastTrip&value=1699999800",
                           "device=2&variable=LoadLevelStatus&value=30",
                           "device=2&variable=Status&value=1"}) {
    ASSERT_EQ("ok\n", _Sim.Control(std::string("set&") + sSet));
  }
  pTest->StartView(bColour ? "NO_COLOR=" : "NO_COLOR=1", iWidth, 24, "Living room lamp",
                   VERU_CONSOLE_TESTCLOCK_PATH);
  ASSERT_TRUE(_Tmux.WaitFor("connected")) << _Tmux.Capture();
  auto Row = [&](int iID) {
    std::vector<std::string> vecLines = _Tmux.Lines();
    int iRow = RowOf(vecLines, iID);
    return iRow < 0 ? std::string() : vecLines[static_cast<size_t>(iRow)];
  };
  struct Shown {
    int iID;
    std::vector<const char*> vecTexts;
  };
  const Shown kShown[] = {
      {1, {" off"}},
      {2, {" on 30%"}},
      {4, {" TRIPPED ", " min ago, armed"}},
      {5, {" temp 21"}},
      {6, {" ok, armed"}},
      {8, {" temp 20, set 21, HeatOn"}},
      {10, {" camera, 127.0.0.1:8081"}},
      {16, {" ok, disarmed"}},
  };
  for (const Shown& _Shown : kShown) {
    for (const char* sText : _Shown.vecTexts) {
      EXPECT_NE(std::string::npos, Row(_Shown.iID).find(sText))
          << _Shown.iID << " " << sText << "\n" << _Tmux.Capture();
    }
  }
  // The sensor was tripped minutes ago on the console's clock.
  EXPECT_NE(std::string::npos, Row(4).find(" 3 min ago")) << _Tmux.Capture();
  std::string sEscaped = _Tmux.Capture(true);
  std::set<int> setTripped = CodesAt(sEscaped, "Kitchen motion", "TRIPPED");
  EXPECT_EQ(1u, setTripped.count(1)) << sEscaped;
  EXPECT_EQ(bColour ? 1u : 0u, setTripped.count(31)) << sEscaped;
  std::set<int> setArmed = CodesAt(sEscaped, "Kitchen motion", "armed");
  EXPECT_EQ(0u, setArmed.count(31) + setArmed.count(1) + setArmed.count(-1)) << sEscaped;

  // 21 body lines for 30: the list goes on below; at its end, above.
  std::vector<std::string> vecLines = _Tmux.Lines();
  ASSERT_EQ(24u, vecLines.size());
  EXPECT_TRUE(EndsWith(vecLines[21], " [more below]")) << _Tmux.Capture();
  EXPECT_EQ(std::string::npos, vecLines[1].find("[more above]")) << _Tmux.Capture();
  _Tmux.Keys("End");
  ASSERT_TRUE(pTest->WaitOnTestClock([&] {
    std::vector<std::string> vecEnd = _Tmux.Lines();
    return vecEnd.size() == 24 && EndsWith(vecEnd[1], " [more above]") &&
           vecEnd[21].find("[more below]") == std::string::npos;
  })) << _Tmux.Capture();

  // The filter in force stays in the header after its line is gone.
  _Tmux.Keys("/");
  _Tmux.Text("door");
  _Tmux.Keys("Enter");
  ASSERT_TRUE(pTest->WaitOnTestClock(
      [&] { return _Tmux.Lines()[0].find("| filter: door |") != std::string::npos; }))
      << _Tmux.Capture();
  _Tmux.Keys(":");
  _Tmux.Text("1 on");
  _Tmux.Keys("Enter");
  ASSERT_TRUE(pTest->WaitOnTestClock(
      [&] { return _Tmux.Capture().find("1 on: done") != std::string::npos; }))
      << _Tmux.Capture();
  EXPECT_NE(std::string::npos, _Tmux.Lines()[0].find("| filter: door |")) << _Tmux.Capture();
  EXPECT_NE(std::string::npos, _Tmux.Capture().find("Garage door")) << _Tmux.Capture();
  EXPECT_EQ(std::string::npos, _Tmux.Capture().find("Filter: door")) << _Tmux.Capture();
  _Tmux.Keys("q");
  EXPECT_NE(std::string::npos, pTest->WaitForEnd().find("EXIT=0"));
}

TEST_F(ScreenTest, ListReadsAtAGlanceAt80Columns) { CheckGlance(this, 80, true); }

TEST_F(ScreenTest, ListReadsAtAGlanceAt120ColumnsWithoutColour) {
  CheckGlance(this, 120, false);
}

// While the unit does not answer the header says OFFLINE and the rows are
// dim; when it answers again both go.
TEST_F(ScreenTest, RowsDimWhileTheUnitDoesNotAnswer) {
  StartView("", 100, 30, "Living room lamp", VERU_CONSOLE_TESTCLOCK_PATH);
  ASSERT_TRUE(m_Tmux.WaitFor("| connected |")) << m_Tmux.Capture();
  // Whether the selected row, a row under a heading and a row after an
  // "on" are dim.
  auto Dim = [&] {
    std::string sScreen = m_Tmux.Capture(true);
    std::vector<bool> vecDim;
    for (const char* sName : {"Living room lamp", "Kitchen light", "Garden light"}) {
      std::set<int> setCodes = CodesAt(sScreen, "", sName);
      if (setCodes.count(-1) == 0) vecDim.push_back(setCodes.count(2) != 0);
    }
    return vecDim;
  };
  EXPECT_EQ(std::string::npos, m_Tmux.Lines()[0].find("OFFLINE")) << m_Tmux.Capture();
  EXPECT_EQ(std::vector<bool>(3, false), Dim()) << m_Tmux.Capture(true);
  ASSERT_EQ("ok\n", m_Sim.Control("stop_local"));
  ASSERT_TRUE(WaitOnTestClock([&] {
    return m_Tmux.Lines()[0].find("Unit 45001 | OFFLINE | ") == 0 &&
           Dim() == std::vector<bool>(3, true);
  })) << m_Tmux.Capture(true);
  // A change meanwhile, so the unit answers the first poll at once.
  ASSERT_EQ("ok\n", m_Sim.Control("change"));
  ASSERT_EQ("ok\n", m_Sim.Control("start_local"));
  ASSERT_TRUE(WaitOnTestClock([&] {
    return m_Tmux.Lines()[0].find("Unit 45001 | connected | ") == 0 &&
           Dim() == std::vector<bool>(3, false);
  })) << m_Tmux.Capture(true);
  m_Tmux.Keys("q");
  EXPECT_NE(std::string::npos, WaitForEnd().find("EXIT=0"));
}

}  // namespace
