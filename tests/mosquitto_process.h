// MosquittoProcess runs a real mosquitto broker for one test, on a loopback
// port, from a config file of its own in a folder of its own (never the
// system's service): no persistence, anonymous clients allowed unless a
// password file is asked for, TLS when certificate files are given. It can
// be stopped and started again on the same port (a restart without
// persistence has forgotten every retained message).
//
// Threads: one test thread drives the object.
// Ownership: the destructor stops the broker and removes its folder.
#ifndef VERU_TESTS_MOSQUITTO_PROCESS_H
#define VERU_TESTS_MOSQUITTO_PROCESS_H

#include <memory>
#include <string>

#include "tests/console_process.h"

class MosquittoProcess {
 public:
  struct Settings {
    int iPort = 18830;
    // With a user name: a password file holding that user and password,
    // and anonymous clients refused.
    std::string sUser;
    std::string sPassword;
    // With both: a TLS listener with that certificate and key.
    std::string sCertFile;
    std::string sKeyFile;
  };

  MosquittoProcess();
  ~MosquittoProcess();
  MosquittoProcess(const MosquittoProcess&) = delete;
  MosquittoProcess& operator=(const MosquittoProcess&) = delete;

  // The broker program's path, or empty when it is not installed.
  static std::string BrokerPath();

  // Writes the config and starts the broker; waits until it takes
  // connections. False (with the reason in *pError) when it cannot.
  bool Start(const Settings& _Settings, std::string* pError);
  // Starts it again with the same settings after Stop.
  bool Restart(std::string* pError);
  // Ends the broker (SIGTERM, then SIGKILL) and waits for it.
  void Stop();
  // Gives the user another password in the password file and has the
  // running broker read it again (SIGHUP); it then disconnects a client
  // whose password no longer holds. False (with *pError) when it cannot.
  bool ChangePassword(const std::string& sPassword, std::string* pError);
  int Port() const { return m_Settings.iPort; }

 private:
  Settings m_Settings;
  std::string m_sFolder;
  std::unique_ptr<ConsoleProcess> m_pProcess;
};

#endif  // VERU_TESTS_MOSQUITTO_PROCESS_H
