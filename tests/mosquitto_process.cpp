#include "tests/mosquitto_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/test_util.h"

namespace {

const char* const kBrokerPlaces[] = {"/usr/sbin/mosquitto", "/usr/bin/mosquitto",
                                     "/usr/local/sbin/mosquitto"};

// True when something takes TCP connections on 127.0.0.1:iPort.
bool Listening(int iPort) {
  int iSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (iSocket < 0) return false;
  sockaddr_in _Address{};
  _Address.sin_family = AF_INET;
  _Address.sin_port = htons(static_cast<uint16_t>(iPort));
  _Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool bTaken = connect(iSocket, reinterpret_cast<sockaddr*>(&_Address),
                        sizeof(_Address)) == 0;
  close(iSocket);
  return bTaken;
}

}  // namespace

MosquittoProcess::MosquittoProcess() {
  char cTemplate[] = "/tmp/veru-mosquitto-XXXXXX";
  if (mkdtemp(cTemplate) != nullptr) m_sFolder = cTemplate;
}

MosquittoProcess::~MosquittoProcess() {
  Stop();
  std::error_code _Error;
  if (!m_sFolder.empty()) std::filesystem::remove_all(m_sFolder, _Error);
}

std::string MosquittoProcess::BrokerPath() {
  for (const char* sPlace : kBrokerPlaces) {
    if (access(sPlace, X_OK) == 0) return sPlace;
  }
  return "";
}

bool MosquittoProcess::Start(const Settings& _Settings, std::string* pError) {
  m_Settings = _Settings;
  if (m_sFolder.empty()) {
    *pError = "no folder for the broker";
    return false;
  }
  std::string sConfig = "listener " + std::to_string(_Settings.iPort) +
                        " 127.0.0.1\npersistence false\n";
  // Started by root, the broker would become the user "mosquitto", who
  // cannot read the test's folders: it stays the test's own user.
  if (const passwd* pUser = getpwuid(getuid())) {
    sConfig += std::string("user ") + pUser->pw_name + "\n";
  }
  if (!_Settings.sCertFile.empty()) {
    sConfig += "cafile " + _Settings.sCertFile + "\ncertfile " +
               _Settings.sCertFile + "\nkeyfile " + _Settings.sKeyFile + "\n";
  }
  if (_Settings.sUser.empty()) {
    sConfig += "allow_anonymous true\n";
  } else {
    std::string sPasswords = m_sFolder + "/passwords";
    ProgramRun _Run = RunProgram({"-b", "-c", sPasswords, _Settings.sUser,
                                  _Settings.sPassword},
                                 "/usr/bin/mosquitto_passwd");
    if (_Run.iStatus != 0) {
      *pError = "mosquitto_passwd failed: " + _Run.sErrors;
      return false;
    }
    sConfig += "allow_anonymous false\npassword_file " + sPasswords + "\n";
  }
  if (!WriteFile(m_sFolder + "/mosquitto.conf", sConfig)) {
    *pError = "cannot write the config";
    return false;
  }
  return Restart(pError);
}

bool MosquittoProcess::Restart(std::string* pError) {
  std::string sBroker = BrokerPath();
  if (sBroker.empty()) {
    *pError = "mosquitto is not installed (scripts/setup.sh installs it)";
    return false;
  }
  m_pProcess = std::make_unique<ConsoleProcess>();
  if (!m_pProcess->StartWithArguments(sBroker,
                                      {"-c", m_sFolder + "/mosquitto.conf"})) {
    *pError = "mosquitto did not start";
    return false;
  }
  if (!WaitUntil([this] { return Listening(m_Settings.iPort); }, 10000)) {
    *pError = "mosquitto takes no connections: " + m_pProcess->Output();
    return false;
  }
  return true;
}

bool MosquittoProcess::ChangePassword(const std::string& sPassword,
                                      std::string* pError) {
  ProgramRun _Run =
      RunProgram({"-b", m_sFolder + "/passwords", m_Settings.sUser, sPassword},
                 "/usr/bin/mosquitto_passwd");
  if (_Run.iStatus != 0 || !m_pProcess) {
    *pError = "mosquitto_passwd failed: " + _Run.sErrors;
    return false;
  }
  m_Settings.sPassword = sPassword;
  m_pProcess->Signal(SIGHUP);
  return true;
}

void MosquittoProcess::Stop() {
  if (!m_pProcess) return;
  m_pProcess->Signal(SIGTERM);
  m_pProcess->WaitForExit(5000);  // kills it when it has not ended in time
  m_pProcess.reset();
}
