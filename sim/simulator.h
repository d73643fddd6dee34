// Simulator wires a simulated home to the servers a client talks to: the
// controller unit's local listener (plain HTTP on IP:3480), two forward
// servers (HTTPS, relaying "/USER/PASS/SERIAL/data_request?..." to the unit
// after checking the account), the main and backup locator servers
// ("/locator_json.php?username="), and a control listener through which
// tests and scripts ask for faults:
//
//   /control?cmd=stop_local | start_local      the unit's local listener
//   /control?cmd=locator_main_fail&on=1|0      main locator answers nothing
//   /control?cmd=garbage&count=N               next N status replies garbage
//   /control?cmd=delay&ms=N                    next unit reply delayed
//   /control?cmd=error_crlf&on=1|0             local "ERROR:" texts end CR LF
//   /control?cmd=password&value=P              the account's password
//   /control?cmd=change                        one change in the home
//   /control?cmd=remove_device&id=N            device N taken out of the home
//   /control?cmd=set&device=N&variable=V&value=X   one variable of a device
//   /control?cmd=changes&on=0|1                pause or resume the ticker
//   /control?cmd=ping                          answers "ok"
//   /control?cmd=dump                          every device, as printed
//   /control?cmd=quit                          ends Run()
//
// Threads: Start and Run on the caller's thread; the servers and the change
// ticker on threads of their own. Owns everything it starts.
#ifndef VERU_SIM_SIMULATOR_H
#define VERU_SIM_SIMULATOR_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/home.h"
#include "sim/sim_server.h"

namespace Sim {

struct SimulatorConfig {
  std::string sUnitIp = "127.0.0.5";
  std::string sFwd1 = "127.0.0.1:3443";
  std::string sFwd2 = "127.0.0.1:3444";
  std::string sLocatorMain;
  std::string sLocatorBackup;
  std::string sControl = "127.0.0.1:3499";
  int iSerialNumber = 45001;
  std::string sUsername = "demo";
  std::string sPassword = "demo";
  std::string sName = "Demo home";
  double dChangesPerSecond = 0.2;
  bool bVerbose = false;
  // Where to put a copy of the forward servers' certificate (their own
  // authority) for clients to trust; empty: nowhere.
  std::string sCaOut;
};

class Simulator {
 public:
  explicit Simulator(const SimulatorConfig& _Config);
  ~Simulator();

  // Makes the certificate (and its copy at sCaOut) and starts every
  // listener and the ticker. False (with a line on stderr) when something
  // cannot be started.
  bool Start();
  // Waits until a quit is asked for (control "quit" or RequestQuit()).
  void Run();
  void RequestQuit() { m_bQuit = true; }
  // Stops everything; called by the destructor too.
  void Stop();

 private:
  Reply UnitReply(const LoggedRequest& _Request, int iWakeGeneration);
  bool LocalDown();
  // True when this request is a status request whose reply is to be
  // garbage (control "garbage"); it then counts as one of them.
  bool GarbageDue(const std::map<std::string, std::string>& mapQuery);
  Reply ForwardReply(const std::string& sFwd, const LoggedRequest& _Request);
  Reply LocatorReply(const LoggedRequest& _Request, bool bMain);
  Reply ControlReply(const LoggedRequest& _Request);
  Reply FaultOr(Reply _Reply);
  bool StartLocal();
  void Log(const char* sWho, const LoggedRequest& _Request);

  SimulatorConfig m_Config;
  Home m_Home;
  std::string m_sCertFolder;
  SimServer m_Local;
  SimServer m_Forward1;
  SimServer m_Forward2;
  SimServer m_LocatorMain;
  SimServer m_LocatorBackup;
  SimServer m_Control;
  std::thread m_Ticker;
  std::atomic<bool> m_bQuit{false};
  std::atomic<bool> m_bStopped{false};
  std::atomic<bool> m_bChangesPaused{false};

  std::mutex m_Mutex;  // guards the fault settings, the password, m_Local
  bool m_bLocatorMainFails = false;
  bool m_bLocalDown = false;
  int m_iGarbage = 0;
  int m_iDelayMs = 0;
  // The unit's "ERROR:" texts end with CR LF, as some units send them.
  bool m_bErrorLineEnds = false;
};

}  // namespace Sim

#endif  // VERU_SIM_SIMULATOR_H
