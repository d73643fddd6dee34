#include "tests/sim_process.h"

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <chrono>
#include <thread>

extern char** environ;

bool SimProcess::Start() {
  char cCaFile[] = "/tmp/veru-sim-ca-XXXXXX";
  int iFile = mkstemp(cCaFile);
  if (iFile < 0) return false;
  close(iFile);
  m_sCaFile = cCaFile;
  const char* argv[] = {VERU_SIM_PATH, "--changes-per-second", "0",
                        "--ca-out", cCaFile, nullptr};
  posix_spawn_file_actions_t _Actions;
  posix_spawn_file_actions_init(&_Actions);
  posix_spawn_file_actions_addopen(&_Actions, 1, "/dev/null", O_WRONLY, 0);
  int iError = posix_spawn(&m_iPid, VERU_SIM_PATH, &_Actions, nullptr,
                           const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&_Actions);
  if (iError != 0) return false;
  for (int i = 0; i < 100; ++i) {
    if (Control("ping") == "ok\n") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
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
  if (m_iPid <= 0) return;
  Control("quit");
  int iStatus = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(m_iPid, &iStatus, WNOHANG) == m_iPid) {
      m_iPid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(m_iPid, SIGKILL);
  waitpid(m_iPid, &iStatus, 0);
  m_iPid = -1;
}
