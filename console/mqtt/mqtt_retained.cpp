// The latest retained state of every topic (see mqtt_retained.h).
#include "console/mqtt/mqtt_retained.h"

#include <json-c/json.h>

#include "console/mqtt/mqtt_discovery.h"
#include "console/mqtt/mqtt_on_off.h"
#include "console/report/device_json_text.h"
#include "console/report/json_objects.h"

namespace {

constexpr int kStateQos = 0;
constexpr int kBridgeQos = 1;

const char kOnline[] = "{\"state\":\"online\"}";
const char kOffline[] = "{\"state\":\"offline\"}";

std::string MemberText(json_object* p_json_object, const char* sKey) {
  json_object* p_json_member = nullptr;
  if (!json_object_object_get_ex(p_json_object, sKey, &p_json_member)) return "";
  const char* sText = json_object_get_string(p_json_member);
  return sText != nullptr ? sText : "";
}

int MemberInt(json_object* p_json_object, const char* sKey) {
  json_object* p_json_member = nullptr;
  if (!json_object_object_get_ex(p_json_object, sKey, &p_json_member)) return 0;
  return json_object_get_int(p_json_member);
}

// The device (id, name, room, variables) back from the object published for
// it; the discovery config needs no more.
Veru::Device DeviceOf(const std::string& sPayload, int iID) {
  Veru::Device _Device(iID);
  json_object* p_json_object = json_tokener_parse(sPayload.c_str());
  if (p_json_object == nullptr) return _Device;
  _Device.m_sName = MemberText(p_json_object, "name");
  _Device.m_iRoom = MemberInt(p_json_object, "room");
  json_object* p_json_variables = nullptr;
  if (json_object_object_get_ex(p_json_object, "variables", &p_json_variables) &&
      json_object_is_type(p_json_variables, json_type_object)) {
    json_object_object_foreach(p_json_variables, sKey, p_json_value) {
      const char* sValue = json_object_get_string(p_json_value);
      _Device.m_mapVariables[sKey] = sValue != nullptr ? sValue : "";
    }
  }
  json_object_put(p_json_object);
  return _Device;
}

Veru::Scene SceneOf(const std::string& sPayload, int iID) {
  Veru::Scene _Scene(iID);
  json_object* p_json_object = json_tokener_parse(sPayload.c_str());
  if (p_json_object == nullptr) return _Scene;
  _Scene.m_sName = MemberText(p_json_object, "name");
  _Scene.m_iRoom = MemberInt(p_json_object, "room");
  json_object_put(p_json_object);
  return _Scene;
}

size_t Digest(const std::string& sComponent, const std::string& sName,
              const std::string& sRoom) {
  return std::hash<std::string>()(sComponent + '\0' + sName + '\0' + sRoom);
}

}  // namespace

MqttRetained::MqttRetained(const MqttTopics& _Topics, PublishFunction fPublish)
    : m_Topics(_Topics), m_fPublish(std::move(fPublish)) {}

void MqttRetained::SetUnit(bool bOnline) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (bOnline == m_bUnitOnline) return;
  m_bUnitOnline = bOnline;
  m_fPublish(m_Topics.BridgeUnit(), bOnline ? kOnline : kOffline, kBridgeQos,
             true);
}

void MqttRetained::SetRooms(std::map<int, std::string> mapRoomName) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_mapRoomName = std::move(mapRoomName);
}

void MqttRetained::SetDevice(const Veru::Device& _Device) {
  std::string sPayload = DeviceJsonText(_Device);
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  Entry& _Entry = m_mapDevice[_Device.m_iID];
  if (sPayload != _Entry.sPayload) {
    _Entry.sPayload = std::move(sPayload);
    m_fPublish(m_Topics.Device(_Device.m_iID), _Entry.sPayload, kStateQos, true);
  }
  PublishOnOff(_Device, &_Entry, false);
  PublishDevice(_Device, &_Entry, false);
}

void MqttRetained::PublishOnOff(const Veru::Device& _Device, Entry* pEntry,
                                bool bAll) {
  std::string sOnOff = OnOffPayload(_Device);
  if (!bAll && sOnOff == pEntry->sOnOff) return;
  if (sOnOff.empty()) {
    if (!pEntry->sOnOff.empty()) Clear(m_Topics.DeviceState(_Device.m_iID));
  } else {
    m_fPublish(m_Topics.DeviceState(_Device.m_iID), sOnOff, kStateQos, true);
  }
  pEntry->sOnOff = std::move(sOnOff);
}

void MqttRetained::SetScene(const Veru::Scene& _Scene) {
  std::string sPayload = JsonText(NewSceneObject(_Scene));
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  Entry& _Entry = m_mapScene[_Scene.m_iID];
  if (sPayload != _Entry.sPayload) {
    _Entry.sPayload = std::move(sPayload);
    m_fPublish(m_Topics.Scene(_Scene.m_iID), _Entry.sPayload, kStateQos, true);
  }
  PublishScene(_Scene, &_Entry, false);
}

void MqttRetained::PublishDevice(const Veru::Device& _Device, Entry* pEntry,
                                 bool bAll) {
  if (!m_Topics.Discovery()) return;
  std::string sComponent = DeviceComponent(_Device);
  std::string sRoom = RoomName(_Device.m_iRoom);
  size_t iDigest = Digest(sComponent, _Device.m_sName, sRoom);
  if (!bAll && iDigest == pEntry->iConfigDigest) return;
  if (!pEntry->sComponent.empty() && pEntry->sComponent != sComponent) {
    Clear(m_Topics.DiscoveryConfig(pEntry->sComponent, _Device.m_iID, false));
  }
  pEntry->sComponent = sComponent;
  pEntry->iConfigDigest = iDigest;
  if (sComponent.empty()) return;
  m_fPublish(m_Topics.DiscoveryConfig(sComponent, _Device.m_iID, false),
             DeviceConfig(m_Topics, _Device, sRoom), kStateQos, true);
}

void MqttRetained::PublishScene(const Veru::Scene& _Scene, Entry* pEntry,
                                bool bAll) {
  if (!m_Topics.Discovery()) return;
  size_t iDigest = Digest("scene", _Scene.m_sName, "");
  if (!bAll && iDigest == pEntry->iConfigDigest) return;
  pEntry->sComponent = "scene";
  pEntry->iConfigDigest = iDigest;
  m_fPublish(m_Topics.DiscoveryConfig("scene", _Scene.m_iID, true),
             SceneConfig(m_Topics, _Scene, ""), kStateQos, true);
}

void MqttRetained::KeepOnly(const std::set<int>& setDevices,
                            const std::set<int>& setScenes) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  for (auto it = m_mapDevice.begin(); it != m_mapDevice.end();) {
    if (setDevices.count(it->first) != 0) {
      ++it;
      continue;
    }
    Clear(m_Topics.Device(it->first));
    if (!it->second.sOnOff.empty()) Clear(m_Topics.DeviceState(it->first));
    if (!it->second.sComponent.empty()) {
      Clear(m_Topics.DiscoveryConfig(it->second.sComponent, it->first, false));
    }
    it = m_mapDevice.erase(it);
  }
  for (auto it = m_mapScene.begin(); it != m_mapScene.end();) {
    if (setScenes.count(it->first) != 0) {
      ++it;
      continue;
    }
    Clear(m_Topics.Scene(it->first));
    if (!it->second.sComponent.empty()) {
      Clear(m_Topics.DiscoveryConfig("scene", it->first, true));
    }
    it = m_mapScene.erase(it);
  }
}

void MqttRetained::RepublishAll() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_fPublish(m_Topics.BridgeState(), kOnline, kBridgeQos, true);
  m_fPublish(m_Topics.BridgeUnit(), m_bUnitOnline ? kOnline : kOffline,
             kBridgeQos, true);
  for (auto& entry : m_mapDevice) {
    m_fPublish(m_Topics.Device(entry.first), entry.second.sPayload, kStateQos,
               true);
    if (!entry.second.sOnOff.empty()) {
      m_fPublish(m_Topics.DeviceState(entry.first), entry.second.sOnOff,
                 kStateQos, true);
    }
    if (m_Topics.Discovery()) {
      PublishDevice(DeviceOf(entry.second.sPayload, entry.first), &entry.second,
                    true);
    }
  }
  for (auto& entry : m_mapScene) {
    m_fPublish(m_Topics.Scene(entry.first), entry.second.sPayload, kStateQos,
               true);
    if (m_Topics.Discovery()) {
      PublishScene(SceneOf(entry.second.sPayload, entry.first), &entry.second,
                   true);
    }
  }
}

void MqttRetained::SwitchUnit(const MqttTopics& _Topics) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  for (auto* pMap : {&m_mapDevice, &m_mapScene}) {
    bool bScene = pMap == &m_mapScene;
    for (auto& entry : *pMap) {
      Entry& _Entry = entry.second;
      if (!_Entry.sComponent.empty()) {
        Clear(m_Topics.DiscoveryConfig(_Entry.sComponent, entry.first, bScene));
      }
      _Entry.sComponent.clear();
      _Entry.iConfigDigest = 0;
    }
  }
  m_Topics = _Topics;
}

size_t MqttRetained::DeviceCount() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_mapDevice.size();
}

std::string MqttRetained::DevicePayload(int iID) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  auto it = m_mapDevice.find(iID);
  return it == m_mapDevice.end() ? "" : it->second.sPayload;
}

size_t MqttRetained::HeldBytes() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  // A map node: the entry and its key, three pointers and the colour.
  const size_t iNode = sizeof(Entry) + sizeof(int) + 4 * sizeof(void*);
  size_t iBytes = 0;
  for (const auto* pMap : {&m_mapDevice, &m_mapScene}) {
    for (const auto& entry : *pMap) {
      iBytes += iNode + entry.second.sPayload.capacity() + 1;
      if (entry.second.sOnOff.capacity() > 15) {
        iBytes += entry.second.sOnOff.capacity() + 1;
      }
    }
  }
  return iBytes;
}

std::string MqttRetained::RoomName(int iRoom) const {
  auto it = m_mapRoomName.find(iRoom);
  return it == m_mapRoomName.end() ? "" : it->second;
}

void MqttRetained::Clear(const std::string& sTopic) {
  m_fPublish(sTopic, "", kStateQos, true);
}
