// The home model: plain records of what a controller unit reports, plus the
// units ("engines") an account may reach.
//
// Ownership: every record is created on the heap by the operation that first
//   needs it and belongs to the PollLoop map that holds it (see poll_loop.h).
//   No record owns another; records refer to each other by id only.
// Threads: records have no locks of their own. The front end's model mutex
//   (PollLoop::m_pMutex) guards every write, and every read made from a
//   thread other than the poll thread.
#ifndef VERU_ENGINE_MODEL_H
#define VERU_ENGINE_MODEL_H

#include <map>
#include <string>

#include "engine/variable_map.h"

namespace Veru {

// A group of rooms.
class Section {
 public:
  explicit Section(int iID);

  int m_iID;
  std::string m_sName;
};

class Room {
 public:
  explicit Room(int iID);

  int m_iID;
  int m_iSection;  // id of the section that holds the room
  std::string m_sName;
};

// A kind of device.
class Category {
 public:
  explicit Category(int iID);

  int m_iID;
  std::string m_sName;
};

class Scene {
 public:
  explicit Scene(int iID);

  int m_iID;
  int m_iRoom;
  bool m_bActive;
  std::string m_sName;
  int m_iState;  // -1: no state reported yet
  std::string m_sComment;
};

class Device {
 public:
  explicit Device(int iID);

  // A copy of the named variable's value, or an empty text when the device
  // has no such variable. Never adds an entry.
  std::string GetVariable(const std::string& sName) const;

  int m_iID;
  int m_iRoom;
  int m_iCategory;
  std::string m_sName;
  // Everything else the controller reports about the device, by name in
  // byte order; values are texts (non-strings as their JSON text).
  VariableMap m_mapVariables;
  int m_iState;  // -1: no state reported yet
  std::string m_sComment;
};

// How a unit may be reached, as its m_sMode text names it. The text is what
// the setting file and the wizard hold, kept as it is (a hand-edited "L"
// with a line end after it is not "L"); the engine decides by this value.
enum class AccessMode {
  kAutomatic,   // "A": local when the home network has the unit, else remote
  kLocalOnly,   // "L"
  kRemoteOnly,  // "R"
  kUnset,       // any other text (empty included): forces nothing
};

// One controller unit. A new Engine has serial number 0, every text empty,
// no users and every flag false.
class Engine {
 public:
  Engine();

  // Recomputes the two availability flags: local when the unit has an IP
  // address, remote when the unit's user name is one of its listed users.
  void UpdateAvailability();

  // The access mode m_sMode names.
  AccessMode Mode() const;

  // True when the remote path has credentials worth sending: a password,
  // and no refusal of it by the unit. The one rule for the poll loop's
  // credentials step, its choice of a way to the unit, and the console.
  bool RemoteCredentialsUsable() const;

  int m_iSerialNumber;  // 0 until learnt
  std::string m_sUsername;
  std::string m_sPassword;
  std::string m_sFwdMain;
  std::string m_sFwdBack;
  std::string m_sFwdActive;
  std::string m_sFirmware;
  std::string m_sName;
  bool m_bUsingRemote;
  bool m_bUsingBackup;
  bool m_bRemoteAvailable;
  bool m_bLocalAvailable;
  std::string m_sMode;  // "A", "L", "R" or other text; see Mode()
  std::string m_sIp;
  std::map<std::string, bool> m_mapUsers;
  bool m_bInvalidUserPass;
};

}  // namespace Veru

#endif  // VERU_ENGINE_MODEL_H
