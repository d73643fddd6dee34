// The simulated unit's scenes: running one (RunScene of the gateway
// service) sets its devices as the scene says and makes it the active
// scene; partial replies carry the scenes that changed.
#include <json-c/json.h>

#include <cstdlib>
#include <vector>

#include "sim/home.h"

namespace Sim {

namespace {

constexpr const char* kGateway =
    "urn:lumenhollow-com:serviceId:HomeAutomationGateway1";

// One device setting of a scene: a switch on or off (Status and Target),
// a dimmer to a level (LoadLevelStatus, LoadLevelTarget, Status), or a
// sensor armed or not.
struct SceneStep {
  int iDevice;
  const char* sVariable;  // "Status", "LoadLevelStatus" or "Armed"
  const char* sValue;
};

// What each scene of the home does, by scene id.
std::vector<SceneStep> StepsOf(int iScene) {
  switch (iScene) {
    case 1:  // Good morning
      return {{1, "Status", "1"}, {3, "Status", "1"}, {19, "Status", "1"},
              {2, "LoadLevelStatus", "60"}};
    case 2:  // Good night
      return {{1, "Status", "0"},          {3, "Status", "0"},
              {7, "Status", "0"},          {11, "Status", "0"},
              {13, "Status", "0"},         {19, "Status", "0"},
              {2, "LoadLevelStatus", "0"}, {14, "LoadLevelStatus", "0"}};
    case 3:  // Away
      return {{1, "Status", "0"},  {3, "Status", "0"},  {7, "Status", "0"},
              {13, "Status", "0"}, {4, "Armed", "1"},   {6, "Armed", "1"},
              {16, "Armed", "1"},  {17, "Armed", "1"}};
    default:
      return {};
  }
}

std::string ToText(json_object* p_json_object) {
  std::string sText = json_object_to_json_string_ext(p_json_object,
                                                     JSON_C_TO_STRING_PLAIN);
  json_object_put(p_json_object);
  return sText;
}

}  // namespace

Reply Home::RunScene(const std::map<std::string, std::string>& mapQuery) {
  Reply _Reply;
  std::string sService = QueryValue(mapQuery, "serviceId");
  int iScene = atoi(QueryValue(mapQuery, "SceneNum").c_str());
  if (sService != kGateway) {
    _Reply.sBody = "ERROR: No implementation of RunScene in " + sService;
    return _Reply;
  }
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (m_mapScene.count(iScene) == 0) {
    _Reply.sBody = "ERROR: No such scene: " + std::to_string(iScene);
    return _Reply;
  }
  for (const SceneStep& _Step : StepsOf(iScene)) {
    auto it = m_mapDevice.find(_Step.iDevice);
    if (it == m_mapDevice.end()) continue;
    HomeDevice& _Device = it->second;
    std::string sVariable = _Step.sVariable;
    std::string sValue = _Step.sValue;
    SetLocked(&_Device, sVariable, sValue);
    if (sVariable == "Status") {
      SetLocked(&_Device, "Target", sValue);
      _Device.sComment = sValue == "1" ? "Switched on" : "Switched off";
    } else if (sVariable == "LoadLevelStatus") {
      SetLocked(&_Device, "LoadLevelTarget", sValue);
      SetLocked(&_Device, "Status", sValue == "0" ? "0" : "1");
      _Device.sComment = "Dimmed to " + sValue;
    } else {
      _Device.sComment = "Armed " + sValue;
    }
    _Device.iState = 4;
    BumpLocked(&_Device);
  }
  // The scene run is the active one now; the others are not.
  ++m_iDataVersion;
  for (auto& entry : m_mapScene) {
    bool bActive = entry.first == iScene;
    if (entry.second.bActive == bActive && !bActive) continue;
    entry.second.bActive = bActive;
    entry.second.iState = bActive ? 4 : entry.second.iState;
    entry.second.iVersion = m_iDataVersion;
  }
  m_Changed.notify_all();
  json_object* p_json_response = json_object_new_object();
  json_object_object_add(p_json_response, "OK", json_object_new_string("OK"));
  json_object* p_json_reply = json_object_new_object();
  json_object_object_add(p_json_reply, "u:RunSceneResponse", p_json_response);
  _Reply.sBody = ToText(p_json_reply);
  return _Reply;
}

json_object* Home::ScenesSinceLocked(int iSince) {
  json_object* p_json_scenes = nullptr;
  for (const auto& entry : m_mapScene) {
    const HomeScene& _Scene = entry.second;
    if (_Scene.iVersion <= iSince) continue;
    if (p_json_scenes == nullptr) p_json_scenes = json_object_new_array();
    json_object* p_json_scene = json_object_new_object();
    json_object_object_add(p_json_scene, "id", json_object_new_int(_Scene.iID));
    json_object_object_add(p_json_scene, "active",
                           json_object_new_int(_Scene.bActive ? 1 : 0));
    json_object_object_add(p_json_scene, "state",
                           json_object_new_int(_Scene.iState));
    json_object_array_add(p_json_scenes, p_json_scene);
  }
  return p_json_scenes;
}

}  // namespace Sim
