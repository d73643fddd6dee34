// Standard output and standard error on one terminal, as a person sees
// them: the result line ends without a line end, and a message on standard
// error that follows it starts on a line of its own. The real program runs
// on a pseudo-terminal that takes both streams, with echo off (so typed
// lines do not end the line for it, as when typed ahead), against the
// simulated home.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/sim_process.h"
#include "tests/test_util.h"

namespace {

// The program on a pseudo-terminal: what it writes on either stream, read
// from the terminal's master side.
class TerminalRun {
 public:
  ~TerminalRun() {
    if (m_iPid > 0) {
      kill(m_iPid, SIGKILL);
      waitpid(m_iPid, nullptr, 0);
    }
    if (m_iMaster >= 0) close(m_iMaster);
  }

  bool Start(const char* sProgram) {
    struct termios _Modes = {};
    cfmakeraw(&_Modes);
    cfsetspeed(&_Modes, B38400);
    _Modes.c_oflag |= OPOST | ONLCR;  // line ends as a terminal shows them
    _Modes.c_lflag &= ~(ECHO | ICANON);
    m_iPid = forkpty(&m_iMaster, nullptr, &_Modes, nullptr);
    if (m_iPid < 0) return false;
    if (m_iPid == 0) {
      execl(sProgram, sProgram, static_cast<char*>(nullptr));
      _exit(127);
    }
    return true;
  }

  void Type(const std::string& sText) {
    ASSERT_EQ(static_cast<ssize_t>(sText.size()),
              write(m_iMaster, sText.data(), sText.size()));
  }

  // Reads until sText has appeared after what an earlier wait found.
  bool WaitFor(const std::string& sText) {
    return WaitUntil(
        [&] {
          Read();
          size_t iFound = m_sOutput.find(sText, m_iCursor);
          if (iFound == std::string::npos) return false;
          m_iCursor = iFound + sText.size();
          return true;
        },
        15000);
  }

  const std::string& Output() const { return m_sOutput; }

 private:
  void Read() {
    struct pollfd _Poll = {m_iMaster, POLLIN, 0};
    while (poll(&_Poll, 1, 10) > 0) {
      char cBuffer[4096];
      ssize_t iRead = read(m_iMaster, cBuffer, sizeof(cBuffer));
      if (iRead <= 0) return;
      m_sOutput.append(cBuffer, static_cast<size_t>(iRead));
    }
  }

  pid_t m_iPid = -1;
  int m_iMaster = -1;
  std::string m_sOutput;
  size_t m_iCursor = 0;
};

TEST(OutputLineTest, StandardErrorStartsOnALineOfItsOwn) {
  ScratchDir _Dir;
  SimProcess _Sim;
  ASSERT_TRUE(_Sim.Start());
  ASSERT_EQ("ok\n", _Sim.Control("changes&on=0"));
  StoreDemoUnitSettings("127.0.0.5", false, "L", "");
  TerminalRun _Run;
  ASSERT_TRUE(_Run.Start(VERU_CONSOLE_PATH));
  ASSERT_TRUE(_Run.WaitFor("-----SCENE 3 Away")) << _Run.Output();
  _Run.Type("1 on\n");
  ASSERT_TRUE(_Run.WaitFor("----COMMAND RESULT: 0 ")) << _Run.Output();
  ASSERT_TRUE(_Run.WaitFor("comment Switched on")) << _Run.Output();
  // A bare device number: its result line only. "1 blink" is told on
  // standard error before its result line, "show 99" after it.
  _Run.Type("1\n1 blink\nshow 99\n");
  ASSERT_TRUE(_Run.WaitFor("No such device: 99")) << _Run.Output();
  const std::string& sOutput = _Run.Output();
  EXPECT_NE(std::string::npos,
            sOutput.find("\r\n----COMMAND RESULT: -2 \r\nUnknown command: 1 blink; type "
                         "help\r\n\r\n----COMMAND RESULT: -2 \r\nNo such device: 99\r\n"))
      << sOutput;
  EXPECT_EQ(std::string::npos, sOutput.find("Unknown command: 1;")) << sOutput;
  _Run.Type("quit\n");
}

}  // namespace
