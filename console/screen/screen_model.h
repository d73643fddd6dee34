// ScreenModel is the full-screen view's own copy of the home: the devices,
// scenes, rooms and categories as the view shows them, the rows in the order
// they are shown, and what the header tells about the unit and the
// connection. The view lays its frames out from this copy alone, so a frame
// never needs the engine's maps or the model mutex.
//
// Rows: every device and scene is one row, keyed by (group, room, kind, id)
//   so that the ordered set of keys is the order on screen: the known rooms
//   by id with their devices by id (a room without devices has one
//   placeholder row), then the devices whose room is unknown, then the
//   scenes by id. Updating one device costs a few set operations, whatever
//   the size of the home.
// Threads: none of its own. The view's one ScreenModel lives in its
//   ScreenState, under the state's lock: the poll thread writes it (often
//   inside a merge, the model mutex held), the drawing thread reads it.
// Ownership: plain values; the model owns everything in it.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_MODEL_H
#define VERU_CONSOLE_SCREEN_SCREEN_MODEL_H

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "engine/model.h"
#include "engine/variable_map.h"

// Where a row sits: rows are shown in ascending key order.
struct ScreenRowKey {
  enum Group { kRoomGroup = 0, kNoRoomGroup = 1, kSceneGroup = 2 };
  enum Kind { kEmptyRoom = 0, kDevice = 1, kScene = 2 };
  int m_iGroup = kRoomGroup;
  int m_iRoom = 0;  // the room's id in kRoomGroup, else 0
  int m_iKind = kDevice;
  int m_iID = 0;  // the device's or scene's id; 0 for a placeholder

  bool operator<(const ScreenRowKey& other) const;
  bool operator==(const ScreenRowKey& other) const;
  bool operator!=(const ScreenRowKey& other) const { return !(*this == other); }
  // True for the rows of one heading (the same room, or the same group).
  bool SameHeading(const ScreenRowKey& other) const;
};

struct ScreenDevice {
  int m_iID = 0;
  int m_iRoom = 0;
  int m_iCategory = 0;
  std::string m_sName;
  int m_iState = -1;
  std::string m_sComment;
  Veru::VariableMap m_mapVariables;
  int64_t m_tChangedMs = 0;  // when a change last arrived; 0: never
};

struct ScreenScene {
  int m_iID = 0;
  int m_iRoom = 0;
  bool m_bActive = false;
  std::string m_sName;
  int m_iState = -1;
  std::string m_sComment;
  int64_t m_tChangedMs = 0;
};

class ScreenModel {
 public:
  // --- Updates ---------------------------------------------------------------
  // Copies one device or scene; tChangedMs (0: none) marks it as just
  // changed. Its row moves when its room did.
  void SetDevice(const Veru::Device& _Device, int64_t tChangedMs);
  void SetScene(const Veru::Scene& _Scene, int64_t tChangedMs);
  // Replaces the room and category names; the rows are put under their
  // rooms anew.
  void SetRooms(const std::map<int, std::string>& mapRooms);
  void SetCategories(const std::map<int, std::string>& mapCategories);
  // Forgets every device and scene (a full report follows).
  void ClearRecords();

  // --- Rows ------------------------------------------------------------------
  // The key of the row the device or scene has now; false when there is no
  // such record.
  bool FindRow(int iKind, int iID, ScreenRowKey* pKey) const;
  // The heading a row is shown under: the room's name, "No room" or
  // "Scenes" (unescaped text from the unit).
  std::string Heading(const ScreenRowKey& _Key) const;
  // Null when the row is a placeholder or names nothing.
  const ScreenDevice* Device(const ScreenRowKey& _Key) const;
  const ScreenScene* Scene(const ScreenRowKey& _Key) const;
  // The name shown in the row (empty for a placeholder).
  const std::string& RowName(const ScreenRowKey& _Key) const;
  // The largest device or scene id (0 when there are none).
  int LargestID() const;

  const std::set<ScreenRowKey>& Rows() const { return m_setRows; }
  const std::map<int, ScreenDevice>& Devices() const { return m_mapDevices; }
  const std::map<int, ScreenScene>& Scenes() const { return m_mapScenes; }
  const std::map<int, std::string>& RoomNames() const { return m_mapRooms; }
  // The category's name, or empty.
  std::string CategoryName(int iCategory) const;

  // --- Header: set by the Screen from the engine's reports -----------------
  std::string m_sUnitName;       // empty until known
  int m_iSerialNumber = 0;
  std::string m_sReachedBy;      // "local 10.0.0.5", "remote via fwd1..."
  std::string m_sConnection;     // the connection state in words
  int64_t m_tLastReplyMs = 0;    // 0: no reply yet
  // Polls fail or the connection was given up, until the next reply.
  bool m_bNoAnswer = false;

 private:
  ScreenRowKey DeviceKey(const ScreenDevice& _Device) const;
  // Adds or drops the placeholder of a room as its devices come and go.
  void TidyRoom(int iRoom);
  void RebuildRows();

  std::map<int, ScreenDevice> m_mapDevices;
  std::map<int, ScreenScene> m_mapScenes;
  std::map<int, std::string> m_mapRooms;
  std::map<int, std::string> m_mapCategories;
  // Devices per known room, so a placeholder is added or dropped at once.
  std::map<int, int> m_mapRoomDeviceCount;
  std::set<ScreenRowKey> m_setRows;
};

#endif  // VERU_CONSOLE_SCREEN_SCREEN_MODEL_H
