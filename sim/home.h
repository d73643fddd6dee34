// Home is the simulated controller unit's home model: a few sections and
// rooms, categories, about twenty devices and a few scenes, with a data
// version that grows with every change. It answers the unit's data requests
// as a real unit would: status long polls (full or partial replies),
// device actions, scenes run, camera images and stream ports.
//
// Threads: every operation may be called from any server thread; one mutex
// guards the model and a condition variable wakes long polls on a change or
// on Stop().
#ifndef VERU_SIM_HOME_H
#define VERU_SIM_HOME_H

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "sim/sim_server.h"

struct json_object;

namespace Sim {

// The query parameters of a request target ("path?a=1&b=2"), decoded.
std::map<std::string, std::string> ParseQuery(const std::string& sTarget);

// The value of one parameter of a parsed query; empty when it has none.
std::string QueryValue(const std::map<std::string, std::string>& mapQuery,
                       const char* sKey);

struct HomeDevice {
  int iID = 0;
  std::string sName;
  int iRoom = 0;
  int iCategory = 0;
  int iState = -1;
  std::string sComment;
  std::map<std::string, std::string> mapVariables;
  std::map<std::string, int> mapVariableVersion;  // version of each change
  int iVersion = 0;  // data version of the last change
  // A dimmer's last level above 0, which switching it on goes back to.
  int iLastLevel = 100;
};

struct HomeScene {
  int iID = 0;
  std::string sName;
  int iRoom = 0;
  bool bActive = false;
  int iState = -1;
  std::string sComment;
  int iVersion = 0;
};

class Home {
 public:
  // iSerialNumber: the unit's serial number; sFwd1/sFwd2: its forward
  // servers, reported in full replies.
  Home(int iSerialNumber, const std::string& sFwd1, const std::string& sFwd2);

  // Answers "data_request?id=..." for the given query. sStreamBase is the
  // base of the stream URL handed out by lu_camera_port. A long poll ends
  // early once WakeAll is called after iWakeGeneration was read (-1: now).
  Reply Answer(const std::map<std::string, std::string>& mapQuery,
               const std::string& sStreamBase, int iWakeGeneration = -1);

  // Read before a caller decides to answer: a WakeAll that comes after it
  // ends the answer's long poll, however late the poll starts to wait.
  int WakeGeneration();

  // One change made by the home itself (a motion sensor trips, a
  // temperature moves, a light is switched); wakes waiting polls.
  void ChangeSomething();

  // Sets one variable of device iDevice, as the home itself would change
  // it; wakes waiting polls. False when there is no such device.
  bool SetVariable(int iDevice, const std::string& sName,
                   const std::string& sValue);

  // Wakes every waiting long poll; later polls answer at once.
  void Stop();

  // Takes device iID out of the home (a device removed at the unit): full
  // replies no longer list it. False when there is none.
  bool RemoveDevice(int iID);

  // Ends every waiting long poll now (with whatever changed, maybe nothing),
  // as when a listener goes down.
  void WakeAll();

  // Every device's state and variables, one block per device in the format
  // the console prints them, for comparing with what a client printed.
  std::string Dump();

  int SerialNumber() const { return m_iSerialNumber; }

 private:
  std::string Status(int iLoadTime, int iDataVersion, int iMinimumDelayMs,
                     int iTimeoutS, int iWakeGeneration);
  Reply Action(const std::map<std::string, std::string>& mapQuery);
  // RunScene of the gateway service: the scene's devices set, the scene
  // made active; "ERROR:" for another service or an unknown scene
  // (home_scenes.cpp).
  Reply RunScene(const std::map<std::string, std::string>& mapQuery);
  // The scenes changed after data version iSince, for a partial reply
  // (id, active, state); null when none changed.
  json_object* ScenesSinceLocked(int iSince);
  std::string FullReplyLocked();
  std::string PartialReplyLocked(int iSince);
  // Sets a variable, noting the coming data version when it changes.
  void SetLocked(HomeDevice* pDevice, const std::string& sKey,
                 const std::string& sValue);
  // Sets a dimmer's level (its target, status and on/off state together).
  void SetLevelLocked(HomeDevice* pDevice, const std::string& sLevel);
  // Ends one change of the device: a new data version, waiting polls woken.
  void BumpLocked(HomeDevice* pDevice);

  const int m_iSerialNumber;
  const std::string m_sFwd1;
  const std::string m_sFwd2;
  const int m_iLoadTime;

  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_bStopped = false;
  int m_iWakeGeneration = 0;
  int m_iDataVersion = 1;
  int m_iJobID = 100;
  std::map<int, HomeDevice> m_mapDevice;
  std::map<int, HomeScene> m_mapScene;
  std::mt19937 m_Random{12345};
};

}  // namespace Sim

#endif  // VERU_SIM_HOME_H
