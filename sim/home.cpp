#include "sim/home.h"

#include <json-c/json.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace Sim {

namespace {

constexpr const char* kSwitchPower = "urn:upnp-org:serviceId:SwitchPower1";
constexpr const char* kDimming = "urn:upnp-org:serviceId:Dimming1";
constexpr const char* kHaDevice = "urn:lumenhollow-com:serviceId:HaDevice1";
constexpr const char* kHeatSetpoint =
    "urn:upnp-org:serviceId:TemperatureSetpoint1_Heat";
constexpr const char* kSecuritySensor =
    "urn:lumenhollow-com:serviceId:SecuritySensor1";
constexpr const char* kOperatingMode =
    "urn:upnp-org:serviceId:HVAC_UserOperatingMode1";

// An action that sets one variable of a device that has it: the service,
// the action, the argument that holds the value, the variable, and the
// comment the device shows afterwards (the value follows it).
struct SetterAction {
  const char* sService;
  const char* sAction;
  const char* sArgument;
  const char* sVariable;
  const char* sComment;
};

const SetterAction kSetterActions[] = {
    {kHeatSetpoint, "SetCurrentSetpoint", "NewCurrentSetpoint",
     "CurrentSetpoint", "Heating setpoint "},
    {kSecuritySensor, "SetArmed", "newArmedValue", "Armed", "Armed "},
    {kOperatingMode, "SetModeTarget", "NewModeTarget", "ModeStatus", "Mode "},
};

struct DeviceSeed {
  int iID;
  const char* sName;
  int iRoom;
  int iCategory;
  std::vector<std::pair<std::string, std::string>> vecVariables;
};

std::vector<DeviceSeed> Seeds() {
  return {
      {1, "Living room lamp", 1, 3, {{"Status", "0"}, {"Target", "0"}}},
      {2, "Ceiling light", 1, 2,
       {{"Status", "0"}, {"LoadLevelStatus", "0"}, {"LoadLevelTarget", "0"}}},
      {3, "Kitchen light", 2, 3, {{"Status", "0"}, {"Target", "0"}}},
      {4, "Kitchen motion", 2, 4,
       {{"Armed", "1"}, {"Tripped", "0"}, {"LastTrip", "0"}}},
      {5, "Kitchen temperature", 2, 17, {{"CurrentTemperature", "21"}}},
      {6, "Front door", 4, 4, {{"Armed", "1"}, {"Tripped", "0"}}},
      {7, "Bedroom lamp", 3, 3, {{"Status", "0"}, {"Target", "0"}}},
      {8, "Bedroom thermostat", 3, 5,
       {{"CurrentSetpoint", "21"},
        {"CurrentTemperature", "20"},
        {"ModeStatus", "HeatOn"}}},
      {9, "Garage door", 5, 3, {{"Status", "0"}, {"Target", "0"}}},
      {10, "Garage camera", 5, 6,
       {{"ip", "127.0.0.1:8081"},
        {"streaming", "/video.mjpg"},
        {"username", "admin"},
        {"password", "secret"}}},
      {11, "Garden light", 6, 3, {{"Status", "0"}, {"Target", "0"}}},
      {12, "Garden humidity", 6, 16, {{"CurrentLevel", "55"}}},
      {13, "Hall light", 4, 3, {{"Status", "0"}, {"Target", "0"}}},
      {14, "Upstairs light", 3, 2,
       {{"Status", "0"}, {"LoadLevelStatus", "0"}, {"LoadLevelTarget", "0"}}},
      {15, "Outdoor temperature", 6, 17, {{"CurrentTemperature", "8"}}},
      {16, "Bedroom window", 3, 4, {{"Armed", "0"}, {"Tripped", "0"}}},
      {17, "Smoke detector", 4, 4, {{"Armed", "1"}, {"Tripped", "0"}}},
      {18, "Light sensor", 6, 18, {{"CurrentLevel", "300"}}},
      {19, "Coffee maker", 2, 3, {{"Status", "0"}, {"Target", "0"}}},
      {20, "Water valve", 5, 3, {{"Status", "1"}, {"Target", "1"}}},
  };
}

json_object* Text(const std::string& sText) {
  return json_object_new_string_len(sText.data(), static_cast<int>(sText.size()));
}

void AddText(json_object* p_json_object, const char* sKey,
             const std::string& sText) {
  json_object_object_add(p_json_object, sKey, Text(sText));
}

void AddInt(json_object* p_json_object, const char* sKey, int iValue) {
  json_object_object_add(p_json_object, sKey, json_object_new_int(iValue));
}

std::string ToText(json_object* p_json_object) {
  std::string sText = json_object_to_json_string_ext(
      p_json_object, JSON_C_TO_STRING_PLAIN);
  json_object_put(p_json_object);
  return sText;
}

json_object* NamedList(const std::vector<std::pair<int, std::string>>& vecItems,
                       const char* sExtraKey, const std::vector<int>& vecExtra) {
  json_object* p_json_array = json_object_new_array();
  for (size_t i = 0; i < vecItems.size(); ++i) {
    json_object* p_json_item = json_object_new_object();
    AddInt(p_json_item, "id", vecItems[i].first);
    AddText(p_json_item, "name", vecItems[i].second);
    if (sExtraKey != nullptr) AddInt(p_json_item, sExtraKey, vecExtra[i]);
    json_object_array_add(p_json_array, p_json_item);
  }
  return p_json_array;
}

// One element of a reply's "devices": everything for a full reply
// (iSince 0); for a partial one the id, state, comment and the variables
// changed after data version iSince.
json_object* DeviceElement(const HomeDevice& _Device, int iSince) {
  json_object* p_json_device = json_object_new_object();
  AddInt(p_json_device, "id", _Device.iID);
  if (iSince == 0) {
    AddText(p_json_device, "name", _Device.sName);
    AddInt(p_json_device, "room", _Device.iRoom);
    AddInt(p_json_device, "category", _Device.iCategory);
  }
  AddInt(p_json_device, "state", _Device.iState);
  AddText(p_json_device, "comment", _Device.sComment);
  for (const auto& variable : _Device.mapVariables) {
    auto itVersion = _Device.mapVariableVersion.find(variable.first);
    if (itVersion != _Device.mapVariableVersion.end() &&
        itVersion->second <= iSince)
      continue;
    AddText(p_json_device, variable.first.c_str(), variable.second);
  }
  return p_json_device;
}

// The setter action of that service and name for a device that has its
// variable; null when there is none.
const SetterAction* FindSetter(const std::string& sService,
                               const std::string& sAction,
                               const HomeDevice& _Device) {
  for (const SetterAction& _Setter : kSetterActions) {
    if (sService == _Setter.sService && sAction == _Setter.sAction &&
        _Device.mapVariables.count(_Setter.sVariable) != 0) {
      return &_Setter;
    }
  }
  return nullptr;
}

// A query parameter read as a decimal number; 0 when it is not one.
int QueryNumber(const std::map<std::string, std::string>& mapQuery,
                const char* sKey) {
  return atoi(QueryValue(mapQuery, sKey).c_str());
}

}  // namespace

std::map<std::string, std::string> ParseQuery(const std::string& sTarget) {
  std::map<std::string, std::string> mapQuery;
  size_t iStart = sTarget.find('?');
  if (iStart == std::string::npos) return mapQuery;
  std::string sQuery = sTarget.substr(iStart + 1);
  size_t iPos = 0;
  while (iPos <= sQuery.size()) {
    size_t iEnd = sQuery.find('&', iPos);
    if (iEnd == std::string::npos) iEnd = sQuery.size();
    std::string sPair = sQuery.substr(iPos, iEnd - iPos);
    size_t iEquals = sPair.find('=');
    if (!sPair.empty()) {
      if (iEquals == std::string::npos) {
        mapQuery[PercentDecode(sPair)] = "";
      } else {
        mapQuery[PercentDecode(sPair.substr(0, iEquals))] =
            PercentDecode(sPair.substr(iEquals + 1));
      }
    }
    iPos = iEnd + 1;
  }
  return mapQuery;
}

Home::Home(int iSerialNumber, const std::string& sFwd1, const std::string& sFwd2)
    : m_iSerialNumber(iSerialNumber),
      m_sFwd1(sFwd1),
      m_sFwd2(sFwd2),
      m_iLoadTime(static_cast<int>(time(nullptr))) {
  for (const DeviceSeed& _Seed : Seeds()) {
    HomeDevice& _Device = m_mapDevice[_Seed.iID];
    _Device.iID = _Seed.iID;
    _Device.sName = _Seed.sName;
    _Device.iRoom = _Seed.iRoom;
    _Device.iCategory = _Seed.iCategory;
    _Device.iState = -1;
    for (const auto& variable : _Seed.vecVariables) {
      _Device.mapVariables[variable.first] = variable.second;
      _Device.mapVariableVersion[variable.first] = 1;
    }
    _Device.iVersion = 1;
  }
  m_mapScene[1] = {1, "Good morning", 1, false, -1, "", 1};
  m_mapScene[2] = {2, "Good night", 3, false, -1, "", 1};
  m_mapScene[3] = {3, "Away", 0, true, -1, "", 1};
}

int Home::WakeGeneration() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_iWakeGeneration;
}

std::string QueryValue(const std::map<std::string, std::string>& mapQuery,
                       const char* sKey) {
  auto it = mapQuery.find(sKey);
  return it == mapQuery.end() ? std::string() : it->second;
}

Reply Home::Answer(const std::map<std::string, std::string>& mapQuery,
                   const std::string& sStreamBase, int iWakeGeneration) {
  std::string sId = QueryValue(mapQuery, "id");
  Reply _Reply;
  if (sId == "lu_sdata") {
    _Reply.sBody = Status(QueryNumber(mapQuery, "loadtime"),
                          QueryNumber(mapQuery, "dataversion"),
                          QueryNumber(mapQuery, "minimumdelay"),
                          QueryNumber(mapQuery, "timeout"), iWakeGeneration);
  } else if (sId == "lu_action" &&
             QueryValue(mapQuery, "action") == "RunScene") {
    _Reply = RunScene(mapQuery);
  } else if (sId == "lu_action") {
    _Reply = Action(mapQuery);
  } else if (sId == "cam_image") {
    // A 1x1 GIF is enough to show an image arrives.
    static const unsigned char kImage[] = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
        0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
        0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
        0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};
    _Reply.sBody.assign(reinterpret_cast<const char*>(kImage), sizeof(kImage));
    _Reply.sContentType = "image/gif";
  } else if (sId == "lu_camera_port") {
    int iDevice = QueryNumber(mapQuery, "DeviceNum");
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    auto it = m_mapDevice.find(iDevice);
    if (it == m_mapDevice.end() || it->second.mapVariables.count("streaming") == 0) {
      _Reply.sBody = "ERROR: No camera " + std::to_string(iDevice);
    } else {
      json_object* p_json_reply = json_object_new_object();
      AddText(p_json_reply, "status", "OK");
      AddText(p_json_reply, "url",
              sStreamBase + "camera/" + std::to_string(iDevice) + "/stream.mjpg");
      _Reply.sBody = ToText(p_json_reply);
    }
  } else {
    _Reply.sBody = "ERROR: Unknown request " + sId;
  }
  return _Reply;
}

std::string Home::Status(int iLoadTime, int iDataVersion, int iMinimumDelayMs,
                         int iTimeoutS, int iWakeGeneration) {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> _Lock(m_Mutex);
  if (iLoadTime != m_iLoadTime) return FullReplyLocked();
  if (iTimeoutS < 0) iTimeoutS = 0;
  if (iTimeoutS > 60) iTimeoutS = 60;
  Clock::time_point tEarliest =
      Clock::now() + std::chrono::milliseconds(iMinimumDelayMs > 0 ? iMinimumDelayMs : 0);
  Clock::time_point tLatest = Clock::now() + std::chrono::seconds(iTimeoutS);
  if (tEarliest > tLatest) tEarliest = tLatest;
  // Wait for a change after the client's version, but answer no sooner than
  // the minimum delay, and no later than the timeout.
  int iGeneration = iWakeGeneration < 0 ? m_iWakeGeneration : iWakeGeneration;
  auto Woken = [&] {
    return m_bStopped || m_iWakeGeneration != iGeneration;
  };
  m_Changed.wait_until(_Lock, tLatest, [&] {
    return Woken() || m_iDataVersion > iDataVersion;
  });
  if (!Woken() && Clock::now() < tEarliest) {
    m_Changed.wait_until(_Lock, tEarliest, Woken);
  }
  return PartialReplyLocked(iDataVersion);
}

Reply Home::Action(const std::map<std::string, std::string>& mapQuery) {
  Reply _Reply;
  int iDevice = QueryNumber(mapQuery, "DeviceNum");
  std::string sService = QueryValue(mapQuery, "serviceId");
  std::string sAction = QueryValue(mapQuery, "action");
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  auto it = m_mapDevice.find(iDevice);
  if (it == m_mapDevice.end()) {
    _Reply.sBody = "ERROR: No such device: " + std::to_string(iDevice);
    return _Reply;
  }
  HomeDevice& _Device = it->second;
  json_object* p_json_response = json_object_new_object();
  std::string sResponse = "u:" + sAction + "Response";
  bool bDimmer = _Device.mapVariables.count("LoadLevelTarget") != 0;
  if (sService == kSwitchPower && sAction == "SetTarget" && bDimmer) {
    // A dimmable light: on goes back to the last level it had (full when it
    // had none), off is level 0, and Status follows the level.
    bool bOn = QueryValue(mapQuery, "newTargetValue") == "1";
    std::string sLevel = bOn ? std::to_string(_Device.iLastLevel) : "0";
    SetLevelLocked(&_Device, sLevel);
    _Device.sComment = bOn ? "Switched on" : "Switched off";
    BumpLocked(&_Device);
    AddText(p_json_response, "OK", "OK");
  } else if (sService == kSwitchPower && sAction == "SetTarget" &&
             _Device.mapVariables.count("Target") != 0) {
    std::string sValue = QueryValue(mapQuery, "newTargetValue") == "1" ? "1" : "0";
    SetLocked(&_Device, "Target", sValue);
    SetLocked(&_Device, "Status", sValue);
    _Device.iState = 4;
    _Device.sComment = sValue == "1" ? "Switched on" : "Switched off";
    BumpLocked(&_Device);
    AddText(p_json_response, "OK", "OK");
  } else if (sService == kDimming && sAction == "SetLoadLevelTarget" &&
             _Device.mapVariables.count("LoadLevelTarget") != 0) {
    std::string sLevel = std::to_string(QueryNumber(mapQuery, "newLoadlevelTarget"));
    SetLevelLocked(&_Device, sLevel);
    _Device.sComment = "Dimmed to " + sLevel;
    BumpLocked(&_Device);
    AddText(p_json_response, "OK", "OK");
  } else if (sService == kHaDevice && sAction == "Poll") {
    AddText(p_json_response, "JobID", std::to_string(++m_iJobID));
  } else if (const SetterAction* pSetter = FindSetter(sService, sAction, _Device)) {
    if (mapQuery.count(pSetter->sArgument) == 0) {
      json_object_put(p_json_response);
      _Reply.sBody = std::string("ERROR: Missing argument ") + pSetter->sArgument;
      return _Reply;
    }
    std::string sValue = QueryValue(mapQuery, pSetter->sArgument);
    SetLocked(&_Device, pSetter->sVariable, sValue);
    _Device.iState = 4;
    _Device.sComment = pSetter->sComment + sValue;
    BumpLocked(&_Device);
    AddText(p_json_response, "OK", "OK");
  } else {
    json_object_put(p_json_response);
    _Reply.sBody = "ERROR: No implementation of " + sAction + " in " + sService +
                   " for device " + std::to_string(iDevice);
    return _Reply;
  }
  json_object* p_json_reply = json_object_new_object();
  json_object_object_add(p_json_reply, sResponse.c_str(), p_json_response);
  _Reply.sBody = ToText(p_json_reply);
  return _Reply;
}

void Home::SetLevelLocked(HomeDevice* pDevice, const std::string& sLevel) {
  SetLocked(pDevice, "LoadLevelTarget", sLevel);
  SetLocked(pDevice, "LoadLevelStatus", sLevel);
  SetLocked(pDevice, "Status", sLevel == "0" ? "0" : "1");
  if (sLevel != "0") pDevice->iLastLevel = atoi(sLevel.c_str());
  pDevice->iState = 4;
}

void Home::ChangeSomething() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  int iPick = static_cast<int>(m_Random() % 5);
  HomeDevice* pDevice = nullptr;
  if (iPick == 0) {
    pDevice = &m_mapDevice[4];
    bool bTripped = pDevice->mapVariables["Tripped"] == "1";
    SetLocked(pDevice, "Tripped", bTripped ? "0" : "1");
    if (!bTripped) SetLocked(pDevice, "LastTrip", std::to_string(time(nullptr)));
  } else if (iPick == 1 || iPick == 2) {
    pDevice = &m_mapDevice[iPick == 1 ? 5 : 15];
    int iTemperature = atoi(pDevice->mapVariables["CurrentTemperature"].c_str());
    iTemperature += (m_Random() % 2 == 0) ? 1 : -1;
    SetLocked(pDevice, "CurrentTemperature", std::to_string(iTemperature));
  } else if (iPick == 3) {
    pDevice = &m_mapDevice[18];
    SetLocked(pDevice, "CurrentLevel", std::to_string(m_Random() % 1000));
  } else {
    static const int kSwitches[] = {1, 3, 7, 9, 11, 13, 19, 20};
    auto it = m_mapDevice.find(kSwitches[m_Random() % 8]);
    if (it == m_mapDevice.end()) return;  // removed
    pDevice = &it->second;
    std::string sValue = pDevice->mapVariables["Status"] == "1" ? "0" : "1";
    SetLocked(pDevice, "Status", sValue);
    SetLocked(pDevice, "Target", sValue);
  }
  BumpLocked(pDevice);
}

bool Home::SetVariable(int iDevice, const std::string& sName,
                       const std::string& sValue) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  auto it = m_mapDevice.find(iDevice);
  if (it == m_mapDevice.end()) return false;
  SetLocked(&it->second, sName, sValue);
  BumpLocked(&it->second);
  return true;
}

void Home::Stop() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_bStopped = true;
  m_Changed.notify_all();
}

bool Home::RemoveDevice(int iID) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (m_mapDevice.erase(iID) == 0) return false;
  ++m_iDataVersion;
  m_Changed.notify_all();
  return true;
}

void Home::WakeAll() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  ++m_iWakeGeneration;
  m_Changed.notify_all();
}

std::string Home::Dump() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  std::string sDump;
  char cLine[1000];
  for (const auto& entry : m_mapDevice) {
    const HomeDevice& _Device = entry.second;
    snprintf(cLine, sizeof(cLine),
             "---DEVICE %d %s room %d category %d state %d comment %s\n",
             _Device.iID, _Device.sName.c_str(), _Device.iRoom,
             _Device.iCategory, _Device.iState, _Device.sComment.c_str());
    sDump += cLine;
    for (const auto& variable : _Device.mapVariables) {
      sDump += "   " + variable.first + "=" + variable.second + "\n";
    }
  }
  return sDump;
}

void Home::SetLocked(HomeDevice* pDevice, const std::string& sKey,
                     const std::string& sValue) {
  std::string& sOld = pDevice->mapVariables[sKey];
  if (sOld == sValue && pDevice->mapVariableVersion.count(sKey) != 0) return;
  sOld = sValue;
  pDevice->mapVariableVersion[sKey] = m_iDataVersion + 1;
}

void Home::BumpLocked(HomeDevice* pDevice) {
  ++m_iDataVersion;
  pDevice->iVersion = m_iDataVersion;
  m_Changed.notify_all();
}

std::string Home::FullReplyLocked() {
  json_object* p_json_reply = json_object_new_object();
  AddInt(p_json_reply, "full", 1);
  AddText(p_json_reply, "version", "*1.5.408*");
  AddText(p_json_reply, "model", "Simulated unit");
  AddInt(p_json_reply, "serial_number", m_iSerialNumber);
  AddText(p_json_reply, "fwd1", m_sFwd1);
  AddText(p_json_reply, "fwd2", m_sFwd2);
  AddInt(p_json_reply, "zwave_heal", 0);
  AddInt(p_json_reply, "loadtime", m_iLoadTime);
  AddInt(p_json_reply, "dataversion", m_iDataVersion);
  AddInt(p_json_reply, "state", 2);
  AddText(p_json_reply, "comment", "Running");
  json_object_object_add(
      p_json_reply, "sections",
      NamedList({{1, "Ground floor"}, {2, "Upstairs"}}, nullptr, {}));
  json_object_object_add(
      p_json_reply, "rooms",
      NamedList({{1, "Living room"}, {2, "Kitchen"}, {3, "Bedroom"},
                 {4, "Hall"}, {5, "Garage"}, {6, "Garden"}},
                "section", {1, 1, 2, 1, 1, 1}));
  json_object_object_add(
      p_json_reply, "categories",
      NamedList({{2, "Dimmable light"}, {3, "Switch"}, {4, "Security sensor"},
                 {5, "Thermostat"}, {6, "Camera"}, {16, "Humidity sensor"},
                 {17, "Temperature sensor"}, {18, "Light sensor"}},
                nullptr, {}));
  json_object* p_json_scenes = json_object_new_array();
  for (const auto& entry : m_mapScene) {
    const HomeScene& _Scene = entry.second;
    json_object* p_json_scene = json_object_new_object();
    AddInt(p_json_scene, "id", _Scene.iID);
    AddText(p_json_scene, "name", _Scene.sName);
    AddInt(p_json_scene, "room", _Scene.iRoom);
    AddInt(p_json_scene, "active", _Scene.bActive ? 1 : 0);
    AddInt(p_json_scene, "state", _Scene.iState);
    AddText(p_json_scene, "comment", _Scene.sComment);
    json_object_array_add(p_json_scenes, p_json_scene);
  }
  json_object_object_add(p_json_reply, "scenes", p_json_scenes);
  json_object* p_json_devices = json_object_new_array();
  for (const auto& entry : m_mapDevice) {
    json_object_array_add(p_json_devices, DeviceElement(entry.second, 0));
  }
  json_object_object_add(p_json_reply, "devices", p_json_devices);
  return ToText(p_json_reply);
}

std::string Home::PartialReplyLocked(int iSince) {
  json_object* p_json_reply = json_object_new_object();
  AddInt(p_json_reply, "full", 0);
  AddInt(p_json_reply, "loadtime", m_iLoadTime);
  AddInt(p_json_reply, "dataversion", m_iDataVersion);
  AddInt(p_json_reply, "state", 2);
  AddText(p_json_reply, "comment", "Running");
  json_object* p_json_devices = json_object_new_array();
  for (const auto& entry : m_mapDevice) {
    if (entry.second.iVersion <= iSince) continue;
    json_object_array_add(p_json_devices, DeviceElement(entry.second, iSince));
  }
  json_object_object_add(p_json_reply, "devices", p_json_devices);
  if (json_object* p_json_scenes = ScenesSinceLocked(iSince)) {
    json_object_object_add(p_json_reply, "scenes", p_json_scenes);
  }
  return ToText(p_json_reply);
}

}  // namespace Sim
