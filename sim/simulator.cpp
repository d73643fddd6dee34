#include "sim/simulator.h"

#include <json-c/json.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace Sim {

namespace {

std::string PathOf(const std::string& sTarget) {
  size_t iQuery = sTarget.find('?');
  return iQuery == std::string::npos ? sTarget : sTarget.substr(0, iQuery);
}

std::vector<std::string> Segments(const std::string& sPath) {
  std::vector<std::string> vecSegments;
  size_t iPos = 0;
  if (!sPath.empty() && sPath[0] == '/') iPos = 1;
  while (iPos <= sPath.size()) {
    size_t iEnd = sPath.find('/', iPos);
    if (iEnd == std::string::npos) iEnd = sPath.size();
    vecSegments.push_back(PercentDecode(sPath.substr(iPos, iEnd - iPos)));
    iPos = iEnd + 1;
  }
  return vecSegments;
}

// Copies a file byte for byte; false when it cannot be read or written.
bool CopyFile(const std::string& sFrom, const std::string& sTo) {
  std::ifstream _In(sFrom, std::ios::binary);
  std::ofstream _Out(sTo, std::ios::binary | std::ios::trunc);
  if (!_In || !_Out) return false;
  _Out << _In.rdbuf();
  return static_cast<bool>(_Out.flush());
}

Reply TextReply(const std::string& sBody) {
  Reply _Reply;
  _Reply.sBody = sBody;
  return _Reply;
}

}  // namespace

Simulator::Simulator(const SimulatorConfig& _Config)
    : m_Config(_Config),
      m_Home(_Config.iSerialNumber, _Config.sFwd1, _Config.sFwd2) {}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start() {
  char cFolder[] = "/tmp/veru-sim-XXXXXX";
  if (mkdtemp(cFolder) == nullptr || !MakeSelfSignedCertificate(cFolder)) {
    fprintf(stderr, "veru-sim: cannot make a certificate\n");
    return false;
  }
  m_sCertFolder = cFolder;
  std::string sCert = m_sCertFolder + "/cert.pem";
  std::string sKey = m_sCertFolder + "/key.pem";
  if (!m_Config.sCaOut.empty() && !CopyFile(sCert, m_Config.sCaOut)) {
    fprintf(stderr, "veru-sim: cannot write the certificate to %s\n",
            m_Config.sCaOut.c_str());
    return false;
  }

  m_Local.SetHandler([this](const LoggedRequest& r, Reply* p) {
    // A unit going down drops the connections it still holds, and those
    // that reach it while it goes: the wake generation is read before the
    // down flag, so a stop that comes after this check still ends the poll.
    int iWakeGeneration = m_Home.WakeGeneration();
    if (LocalDown()) {
      p->bDrop = true;
      return true;
    }
    *p = FaultOr(UnitReply(r, iWakeGeneration));
    if (LocalDown()) p->bDrop = true;
    return true;
  });
  if (!StartLocal()) {
    fprintf(stderr, "veru-sim: cannot listen on %s:3480\n",
            m_Config.sUnitIp.c_str());
    return false;
  }
  // The control listener comes last: no control request may arrive while
  // the others are being started.
  struct Listener {
    SimServer* pServer;
    std::string sAddress;
    bool bHttps;
    SimServer::Handler fHandler;
  };
  std::vector<Listener> vecListeners = {
      {&m_Forward1, m_Config.sFwd1, true,
       [this](const LoggedRequest& r, Reply* p) {
         *p = ForwardReply(m_Config.sFwd1, r);
         return true;
       }},
      {&m_Forward2, m_Config.sFwd2, true,
       [this](const LoggedRequest& r, Reply* p) {
         *p = ForwardReply(m_Config.sFwd2, r);
         return true;
       }},
      {&m_LocatorMain, m_Config.sLocatorMain, false,
       [this](const LoggedRequest& r, Reply* p) {
         *p = LocatorReply(r, true);
         return true;
       }},
      {&m_LocatorBackup, m_Config.sLocatorBackup, false,
       [this](const LoggedRequest& r, Reply* p) {
         *p = LocatorReply(r, false);
         return true;
       }},
      {&m_Control, m_Config.sControl, false,
       [this](const LoggedRequest& r, Reply* p) {
         *p = ControlReply(r);
         return true;
       }},
  };
  for (Listener& _Listener : vecListeners) {
    std::string sHost;
    int iPort = 0;
    _Listener.pServer->SetHandler(_Listener.fHandler);
    if (!SplitHostPort(_Listener.sAddress, &sHost, &iPort) ||
        !_Listener.pServer->Start(sHost, iPort, _Listener.bHttps ? sCert : "",
                                  _Listener.bHttps ? sKey : "")) {
      fprintf(stderr, "veru-sim: cannot listen on %s\n",
              _Listener.sAddress.c_str());
      return false;
    }
  }
  if (m_Config.dChangesPerSecond > 0) {
    m_Ticker = std::thread([this] {
      auto tStep = std::chrono::microseconds(
          static_cast<long long>(1e6 / m_Config.dChangesPerSecond));
      auto tNext = std::chrono::steady_clock::now() + tStep;
      while (!m_bStopped) {
        std::this_thread::sleep_until(tNext);
        tNext += tStep;
        if (!m_bStopped && !m_bChangesPaused) m_Home.ChangeSomething();
      }
    });
  }
  return true;
}

bool Simulator::StartLocal() { return m_Local.Start(m_Config.sUnitIp, 3480); }

void Simulator::Run() {
  while (!m_bQuit) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void Simulator::Stop() {
  if (m_bStopped.exchange(true)) return;
  m_Home.Stop();
  if (m_Ticker.joinable()) m_Ticker.join();
  for (SimServer* pServer : {&m_Local, &m_Forward1, &m_Forward2, &m_LocatorMain,
                             &m_LocatorBackup, &m_Control}) {
    pServer->Stop();
  }
  if (!m_sCertFolder.empty()) {
    std::error_code _Error;
    std::filesystem::remove_all(m_sCertFolder, _Error);
  }
}

void Simulator::Log(const char* sWho, const LoggedRequest& _Request) {
  if (m_Config.bVerbose) fprintf(stderr, "%s %s\n", sWho, _Request.sDecoded.c_str());
}

Reply Simulator::FaultOr(Reply _Reply) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (m_iDelayMs > 0) {
    _Reply.iDelayMs = m_iDelayMs;
    m_iDelayMs = 0;
  }
  return _Reply;
}

bool Simulator::LocalDown() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_bLocalDown;
}

bool Simulator::GarbageDue(
    const std::map<std::string, std::string>& mapQuery) {
  if (QueryValue(mapQuery, "id") != "lu_sdata") return false;
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (m_iGarbage <= 0) return false;
  --m_iGarbage;
  return true;
}

Reply Simulator::UnitReply(const LoggedRequest& _Request, int iWakeGeneration) {
  Log("unit", _Request);
  std::map<std::string, std::string> mapQuery = ParseQuery(_Request.sTarget);
  if (GarbageDue(mapQuery)) return TextReply("<html>the unit is busy</html>");
  Reply _Reply = m_Home.Answer(mapQuery, "", iWakeGeneration);
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (m_bErrorLineEnds && _Reply.sBody.compare(0, 6, "ERROR:") == 0) {
    _Reply.sBody += "\r\n";
  }
  return _Reply;
}

Reply Simulator::ForwardReply(const std::string& sFwd,
                              const LoggedRequest& _Request) {
  Log("forward", _Request);
  std::vector<std::string> vecSegments = Segments(PathOf(_Request.sTarget));
  std::string sPassword;
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    sPassword = m_Config.sPassword;
  }
  if (vecSegments.size() != 4 || vecSegments[0] != m_Config.sUsername ||
      vecSegments[1] != sPassword ||
      atoi(vecSegments[2].c_str()) != m_Home.SerialNumber()) {
    return TextReply("Invalid user/pass");
  }
  if (vecSegments[3] != "data_request") {
    return TextReply("ERROR: Unknown path");
  }
  std::map<std::string, std::string> mapQuery = ParseQuery(_Request.sTarget);
  if (GarbageDue(mapQuery)) {
    return TextReply("<html>the forward server is busy</html>");
  }
  return m_Home.Answer(mapQuery, "https://" + sFwd + "/");
}

Reply Simulator::LocatorReply(const LoggedRequest& _Request, bool bMain) {
  Log(bMain ? "locator-main" : "locator-backup", _Request);
  if (bMain) {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    if (m_bLocatorMainFails) return TextReply("");
  }
  if (PathOf(_Request.sTarget) != "/locator_json.php") {
    Reply _Reply = TextReply("");
    _Reply.iStatus = 404;
    return _Reply;
  }
  std::string sUser = ParseQuery(_Request.sTarget)["username"];
  json_object* p_json_reply = json_object_new_object();
  json_object* p_json_units = json_object_new_array();
  if (sUser.empty() || sUser == m_Config.sUsername) {
    json_object* p_json_unit = json_object_new_object();
    json_object_object_add(p_json_unit, "serialNumber",
                           json_object_new_int(m_Config.iSerialNumber));
    json_object_object_add(p_json_unit, "name",
                           json_object_new_string(m_Config.sName.c_str()));
    json_object_object_add(p_json_unit, "FirmwareVersion",
                           json_object_new_string("1.5.408"));
    json_object_object_add(p_json_unit, "ipAddress",
                           json_object_new_string(m_Config.sUnitIp.c_str()));
    json_object_object_add(p_json_unit, "active_server",
                           json_object_new_string(m_Config.sFwd1.c_str()));
    json_object* p_json_servers = json_object_new_array();
    for (int i = 0; i < 2; ++i) {
      json_object* p_json_server = json_object_new_object();
      json_object_object_add(
          p_json_server, "hostName",
          json_object_new_string((i == 0 ? m_Config.sFwd1 : m_Config.sFwd2).c_str()));
      json_object_object_add(p_json_server, "primary",
                             json_object_new_boolean(i == 0));
      json_object_array_add(p_json_servers, p_json_server);
    }
    json_object_object_add(p_json_unit, "forwardServers", p_json_servers);
    json_object* p_json_users = json_object_new_array();
    json_object_array_add(p_json_users,
                          json_object_new_string(m_Config.sUsername.c_str()));
    json_object_object_add(p_json_unit, "users", p_json_users);
    json_object_array_add(p_json_units, p_json_unit);
  }
  json_object_object_add(p_json_reply, "units", p_json_units);
  Reply _Reply = TextReply(
      json_object_to_json_string_ext(p_json_reply, JSON_C_TO_STRING_PLAIN));
  json_object_put(p_json_reply);
  return _Reply;
}

Reply Simulator::ControlReply(const LoggedRequest& _Request) {
  std::map<std::string, std::string> mapQuery = ParseQuery(_Request.sTarget);
  const std::string& sCommand = mapQuery["cmd"];
  if (sCommand == "stop_local") {
    {
      std::lock_guard<std::mutex> _Lock(m_Mutex);
      m_bLocalDown = true;
    }
    m_Home.WakeAll();
    m_Local.Stop();
  } else if (sCommand == "start_local") {
    {
      std::lock_guard<std::mutex> _Lock(m_Mutex);
      m_bLocalDown = false;
    }
    if (!StartLocal()) return TextReply("failed\n");
  } else if (sCommand == "locator_main_fail") {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_bLocatorMainFails = mapQuery["on"] != "0";
  } else if (sCommand == "garbage") {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_iGarbage = atoi(mapQuery["count"].c_str());
  } else if (sCommand == "delay") {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_iDelayMs = atoi(mapQuery["ms"].c_str());
  } else if (sCommand == "error_crlf") {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_bErrorLineEnds = mapQuery["on"] != "0";
  } else if (sCommand == "password") {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Config.sPassword = mapQuery["value"];
  } else if (sCommand == "change") {
    m_Home.ChangeSomething();
  } else if (sCommand == "remove_device") {
    if (!m_Home.RemoveDevice(atoi(mapQuery["id"].c_str()))) {
      return TextReply("no such device\n");
    }
  } else if (sCommand == "set") {
    if (!m_Home.SetVariable(atoi(mapQuery["device"].c_str()), mapQuery["variable"],
                            mapQuery["value"])) {
      return TextReply("no such device\n");
    }
  } else if (sCommand == "changes") {
    m_bChangesPaused = mapQuery["on"] == "0";
  } else if (sCommand == "ping") {
  } else if (sCommand == "dump") {
    return TextReply(m_Home.Dump());
  } else if (sCommand == "quit") {
    m_bQuit = true;
  } else {
    return TextReply("unknown command\n");
  }
  return TextReply("ok\n");
}

}  // namespace Sim
