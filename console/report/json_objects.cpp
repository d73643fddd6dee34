// The JSON objects of the home and of command results (see json_objects.h).
#include "console/report/json_objects.h"

#include <json-c/json.h>

#include "console/report/utf8_text.h"
#include "engine/clock.h"

void AddJsonText(json_object* p_json_object, const char* sKey,
                 const std::string& sText) {
  std::string sValid = ValidUtf8(sText);
  json_object_object_add(
      p_json_object, sKey,
      json_object_new_string_len(sValid.data(), static_cast<int>(sValid.size())));
}

void AddJsonInt(json_object* p_json_object, const char* sKey, int64_t iValue) {
  json_object_object_add(p_json_object, sKey, json_object_new_int64(iValue));
}

void AddJsonBool(json_object* p_json_object, const char* sKey, bool bValue) {
  json_object_object_add(p_json_object, sKey, json_object_new_boolean(bValue));
}

json_object* NewJsonEvent(const char* sEvent, bool bShown) {
  json_object* p_json_object = json_object_new_object();
  json_object_object_add(p_json_object, "event",
                         json_object_new_string(sEvent));
  AddJsonInt(p_json_object, "time", Veru::Now());
  if (bShown) AddJsonBool(p_json_object, "shown", true);
  return p_json_object;
}

void AddDeviceFields(json_object* p_json_object, const Veru::Device& _Device) {
  AddJsonInt(p_json_object, "id", _Device.m_iID);
  AddJsonText(p_json_object, "name", _Device.m_sName);
  AddJsonInt(p_json_object, "room", _Device.m_iRoom);
  AddJsonInt(p_json_object, "category", _Device.m_iCategory);
  AddJsonInt(p_json_object, "state", _Device.m_iState);
  AddJsonText(p_json_object, "comment", _Device.m_sComment);
  json_object* p_json_variables = json_object_new_object();
  for (const auto& variable : _Device.m_mapVariables) {
    // json-c keys are C strings: a name is cut at a NUL byte. Values keep
    // every byte.
    AddJsonText(p_json_variables, ValidUtf8(variable.first).c_str(),
                variable.second);
  }
  json_object_object_add(p_json_object, "variables", p_json_variables);
}

json_object* NewDeviceObject(const Veru::Device& _Device) {
  json_object* p_json_object = json_object_new_object();
  AddDeviceFields(p_json_object, _Device);
  return p_json_object;
}

void AddSceneFields(json_object* p_json_object, const Veru::Scene& _Scene) {
  AddJsonInt(p_json_object, "id", _Scene.m_iID);
  AddJsonText(p_json_object, "name", _Scene.m_sName);
  AddJsonInt(p_json_object, "room", _Scene.m_iRoom);
  AddJsonBool(p_json_object, "active", _Scene.m_bActive);
  AddJsonInt(p_json_object, "state", _Scene.m_iState);
  AddJsonText(p_json_object, "comment", _Scene.m_sComment);
}

json_object* NewSceneObject(const Veru::Scene& _Scene) {
  json_object* p_json_object = json_object_new_object();
  AddSceneFields(p_json_object, _Scene);
  return p_json_object;
}

json_object* NewResultEvent(const CommandResult& _Result) {
  bool bCamera = _Result.iKind == CommandResult::Kind::kImage ||
                 _Result.iKind == CommandResult::Kind::kStream;
  json_object* p_json_event = NewJsonEvent("result");
  AddJsonText(p_json_event, "command", _Result.sCommand);
  // A camera command: 0 when a URL was found, -1 when not.
  int iResult = _Result.iResult;
  if (bCamera) iResult = _Result.Succeeded() ? 0 : -1;
  AddJsonInt(p_json_event, "result", iResult);
  // The controller's words, or why the command failed without them.
  std::string sMessage = SplitControllerText(_Result.sMessage).sWords;
  AddJsonText(p_json_event, "message",
              sMessage.empty() ? _Result.sReason : sMessage);
  if (_Result.iKind == CommandResult::Kind::kStream) {
    AddJsonText(p_json_event, "type", _Result.sType);
  }
  if (bCamera) AddJsonText(p_json_event, "url", _Result.sURL);
  return p_json_event;
}

std::string JsonText(json_object* p_json_object) {
  size_t iLength = 0;
  const char* sText = json_object_to_json_string_length(
      p_json_object, JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE,
      &iLength);
  std::string sLine(sText, iLength);
  json_object_put(p_json_object);
  return sLine;
}
