#include "tests/sim_process.h"

#include <httplib.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/test_util.h"

bool SimProcess::Start() {
  char cCaFile[] = "/tmp/veru-sim-ca-XXXXXX";
  int iFile = mkstemp(cCaFile);
  if (iFile < 0) return false;
  close(iFile);
  m_sCaFile = cCaFile;
  if (!m_Process.StartWithArguments(
          VERU_SIM_PATH,
          {"--changes-per-second", "0", "--ca-out", m_sCaFile})) {
    return false;
  }
  m_bRunning = true;
  return WaitUntil([this] { return Control("ping") == "ok\n"; }, 10000);
}

int SimProcess::QuitConsole(ConsoleProcess* pConsole) {
  pConsole->WriteLine("quit");
  WaitUntil(
      [&] {
        Control("change");
        return pConsole->WaitForEnd(200);
      },
      15000);
  return pConsole->WaitForExit(0);
}

std::string SimProcess::Control(const std::string& sQuery) {
  httplib::Client _Client("127.0.0.1", 3499);
  _Client.set_connection_timeout(1, 0);
  _Client.set_read_timeout(20, 0);
  auto _Result = _Client.Get(("/control?cmd=" + sQuery).c_str());
  return _Result && _Result->status == 200 ? _Result->body : "";
}

void SimProcess::Stop() {
  if (!m_sCaFile.empty()) unlink(m_sCaFile.c_str());
  m_sCaFile.clear();
  if (!m_bRunning) return;
  m_bRunning = false;
  Control("quit");
  m_Process.WaitForExit(5000);  // kills it when it does not quit in time
}
