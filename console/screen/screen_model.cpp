// The full-screen view's copy of the home and the order of its rows.
#include "console/screen/screen_model.h"

#include <tuple>

namespace {

const std::string kEmpty;

std::tuple<int, int, int, int> Tie(const ScreenRowKey& _Key) {
  return std::make_tuple(_Key.m_iGroup, _Key.m_iRoom, _Key.m_iKind, _Key.m_iID);
}

}  // namespace

bool ScreenRowKey::operator<(const ScreenRowKey& other) const {
  return Tie(*this) < Tie(other);
}

bool ScreenRowKey::operator==(const ScreenRowKey& other) const {
  return Tie(*this) == Tie(other);
}

bool ScreenRowKey::SameHeading(const ScreenRowKey& other) const {
  return m_iGroup == other.m_iGroup && m_iRoom == other.m_iRoom;
}

ScreenRowKey ScreenModel::DeviceKey(const ScreenDevice& _Device) const {
  ScreenRowKey _Key;
  _Key.m_iKind = ScreenRowKey::kDevice;
  _Key.m_iID = _Device.m_iID;
  if (m_mapRooms.count(_Device.m_iRoom) != 0) {
    _Key.m_iGroup = ScreenRowKey::kRoomGroup;
    _Key.m_iRoom = _Device.m_iRoom;
  } else {
    _Key.m_iGroup = ScreenRowKey::kNoRoomGroup;
  }
  return _Key;
}

void ScreenModel::TidyRoom(int iRoom) {
  if (m_mapRooms.count(iRoom) == 0) return;
  ScreenRowKey _Placeholder;
  _Placeholder.m_iRoom = iRoom;
  _Placeholder.m_iKind = ScreenRowKey::kEmptyRoom;
  if (m_mapRoomDeviceCount[iRoom] > 0) {
    m_setRows.erase(_Placeholder);
  } else {
    m_setRows.insert(_Placeholder);
  }
}

void ScreenModel::SetDevice(const Veru::Device& _Device, int64_t tChangedMs) {
  ScreenDevice& _Copy = m_mapDevices[_Device.m_iID];
  bool bKnown = _Copy.m_iID != 0;
  if (bKnown) {
    m_setRows.erase(DeviceKey(_Copy));
    if (m_mapRooms.count(_Copy.m_iRoom) != 0) {
      --m_mapRoomDeviceCount[_Copy.m_iRoom];
      TidyRoom(_Copy.m_iRoom);
    }
  }
  _Copy.m_iID = _Device.m_iID;
  _Copy.m_iRoom = _Device.m_iRoom;
  _Copy.m_iCategory = _Device.m_iCategory;
  _Copy.m_sName = _Device.m_sName;
  _Copy.m_iState = _Device.m_iState;
  _Copy.m_sComment = _Device.m_sComment;
  _Copy.m_mapVariables = _Device.m_mapVariables;
  if (tChangedMs != 0) _Copy.m_tChangedMs = tChangedMs;
  m_setRows.insert(DeviceKey(_Copy));
  if (m_mapRooms.count(_Copy.m_iRoom) != 0) {
    ++m_mapRoomDeviceCount[_Copy.m_iRoom];
    TidyRoom(_Copy.m_iRoom);
  }
}

void ScreenModel::SetScene(const Veru::Scene& _Scene, int64_t tChangedMs) {
  ScreenScene& _Copy = m_mapScenes[_Scene.m_iID];
  _Copy.m_iID = _Scene.m_iID;
  _Copy.m_iRoom = _Scene.m_iRoom;
  _Copy.m_bActive = _Scene.m_bActive;
  _Copy.m_sName = _Scene.m_sName;
  _Copy.m_iState = _Scene.m_iState;
  _Copy.m_sComment = _Scene.m_sComment;
  if (tChangedMs != 0) _Copy.m_tChangedMs = tChangedMs;
  ScreenRowKey _Key;
  _Key.m_iGroup = ScreenRowKey::kSceneGroup;
  _Key.m_iKind = ScreenRowKey::kScene;
  _Key.m_iID = _Scene.m_iID;
  m_setRows.insert(_Key);
}

void ScreenModel::SetRooms(const std::map<int, std::string>& mapRooms) {
  if (mapRooms == m_mapRooms) return;
  m_mapRooms = mapRooms;
  RebuildRows();
}

void ScreenModel::SetCategories(const std::map<int, std::string>& mapCategories) {
  m_mapCategories = mapCategories;
}

void ScreenModel::ClearRecords() {
  m_mapDevices.clear();
  m_mapScenes.clear();
  RebuildRows();
}

void ScreenModel::RebuildRows() {
  m_setRows.clear();
  m_mapRoomDeviceCount.clear();
  for (const auto& room : m_mapRooms) m_mapRoomDeviceCount[room.first] = 0;
  for (const auto& device : m_mapDevices) {
    m_setRows.insert(DeviceKey(device.second));
    auto it = m_mapRoomDeviceCount.find(device.second.m_iRoom);
    if (it != m_mapRoomDeviceCount.end()) ++it->second;
  }
  for (const auto& room : m_mapRooms) TidyRoom(room.first);
  for (const auto& scene : m_mapScenes) {
    ScreenRowKey _Key;
    _Key.m_iGroup = ScreenRowKey::kSceneGroup;
    _Key.m_iKind = ScreenRowKey::kScene;
    _Key.m_iID = scene.first;
    m_setRows.insert(_Key);
  }
}

bool ScreenModel::FindRow(int iKind, int iID, ScreenRowKey* pKey) const {
  if (iKind == ScreenRowKey::kDevice) {
    auto it = m_mapDevices.find(iID);
    if (it == m_mapDevices.end()) return false;
    *pKey = DeviceKey(it->second);
    return true;
  }
  if (iKind == ScreenRowKey::kScene) {
    if (m_mapScenes.count(iID) == 0) return false;
    pKey->m_iGroup = ScreenRowKey::kSceneGroup;
    pKey->m_iRoom = 0;
    pKey->m_iKind = ScreenRowKey::kScene;
    pKey->m_iID = iID;
    return true;
  }
  return false;
}

std::string ScreenModel::Heading(const ScreenRowKey& _Key) const {
  if (_Key.m_iGroup == ScreenRowKey::kSceneGroup) return "Scenes";
  if (_Key.m_iGroup == ScreenRowKey::kNoRoomGroup) return "No room";
  auto it = m_mapRooms.find(_Key.m_iRoom);
  return it == m_mapRooms.end() ? "No room" : it->second;
}

const ScreenDevice* ScreenModel::Device(const ScreenRowKey& _Key) const {
  if (_Key.m_iKind != ScreenRowKey::kDevice) return nullptr;
  auto it = m_mapDevices.find(_Key.m_iID);
  return it == m_mapDevices.end() ? nullptr : &it->second;
}

const ScreenScene* ScreenModel::Scene(const ScreenRowKey& _Key) const {
  if (_Key.m_iKind != ScreenRowKey::kScene) return nullptr;
  auto it = m_mapScenes.find(_Key.m_iID);
  return it == m_mapScenes.end() ? nullptr : &it->second;
}

const std::string& ScreenModel::RowName(const ScreenRowKey& _Key) const {
  if (const ScreenDevice* pDevice = Device(_Key)) return pDevice->m_sName;
  if (const ScreenScene* pScene = Scene(_Key)) return pScene->m_sName;
  return kEmpty;
}

int ScreenModel::LargestID() const {
  int iLargest = 0;
  if (!m_mapDevices.empty()) iLargest = m_mapDevices.rbegin()->first;
  if (!m_mapScenes.empty() && m_mapScenes.rbegin()->first > iLargest) {
    iLargest = m_mapScenes.rbegin()->first;
  }
  return iLargest;
}

std::string ScreenModel::CategoryName(int iCategory) const {
  auto it = m_mapCategories.find(iCategory);
  return it == m_mapCategories.end() ? "" : it->second;
}
