// The --json event stream: each report and each command result as one line
// of JSON.
#include "console/report/json_report.h"

#include <json-c/json.h>

#include <map>
#include <type_traits>

#include "console/report/text_report.h"
#include "console/report/utf8_text.h"
#include "engine/clock.h"
#include "engine/poll_loop.h"

#include "console/history/history_query.h"

namespace {

// Every text is written as valid UTF-8 (see ValidUtf8).
void AddText(json_object* p_json_object, const char* sKey,
             const std::string& sText) {
  std::string sValid = ValidUtf8(sText);
  json_object_object_add(
      p_json_object, sKey,
      json_object_new_string_len(sValid.data(), static_cast<int>(sValid.size())));
}

void AddInt(json_object* p_json_object, const char* sKey, int64_t iValue) {
  json_object_object_add(p_json_object, sKey, json_object_new_int64(iValue));
}

void AddBool(json_object* p_json_object, const char* sKey, bool bValue) {
  json_object_object_add(p_json_object, sKey, json_object_new_boolean(bValue));
}

// An object whose first member names the event and whose second is the
// time it was made ("time", seconds since the epoch); an event that answers
// "show" says so next ("shown":true), so it is not taken for a change.
json_object* NewEvent(const char* sEvent, bool bShown = false) {
  json_object* p_json_object = json_object_new_object();
  json_object_object_add(p_json_object, "event",
                         json_object_new_string(sEvent));
  AddInt(p_json_object, "time", Veru::Now());
  if (bShown) AddBool(p_json_object, "shown", true);
  return p_json_object;
}

// [{"id":1,"name":"..."},...] for the sections and the categories; the
// rooms add "section".
template <class Record>
json_object* NewNamedList(const std::map<int, Record*>& mapRecords) {
  json_object* p_json_list = json_object_new_array();
  for (const auto& record : mapRecords) {
    json_object* p_json_record = json_object_new_object();
    AddInt(p_json_record, "id", record.second->m_iID);
    AddText(p_json_record, "name", record.second->m_sName);
    if constexpr (std::is_same_v<Record, Veru::Room>) {
      AddInt(p_json_record, "section", record.second->m_iSection);
    }
    json_object_array_add(p_json_list, p_json_record);
  }
  return p_json_list;
}

void AddEngineFields(json_object* p_json_object,
                     const Veru::PollLoop& _PollLoop) {
  AddInt(p_json_object, "state", _PollLoop.m_iState);
  AddText(p_json_object, "comment", _PollLoop.m_sComment);
  AddInt(p_json_object, "loadtime", _PollLoop.m_iLoadTime);
  AddInt(p_json_object, "dataversion", _PollLoop.m_iDataVersion);
  AddBool(p_json_object, "heal", _PollLoop.m_bZWaveHeal);
}

void AddDeviceFields(json_object* p_json_object, const Veru::Device& _Device) {
  AddInt(p_json_object, "id", _Device.m_iID);
  AddText(p_json_object, "name", _Device.m_sName);
  AddInt(p_json_object, "room", _Device.m_iRoom);
  AddInt(p_json_object, "category", _Device.m_iCategory);
  AddInt(p_json_object, "state", _Device.m_iState);
  AddText(p_json_object, "comment", _Device.m_sComment);
  json_object* p_json_variables = json_object_new_object();
  for (const auto& variable : _Device.m_mapVariables) {
    // json-c keys are C strings: a name is cut at a NUL byte. Values keep
    // every byte.
    AddText(p_json_variables, ValidUtf8(variable.first).c_str(),
            variable.second);
  }
  json_object_object_add(p_json_object, "variables", p_json_variables);
}

void AddSceneFields(json_object* p_json_object, const Veru::Scene& _Scene) {
  AddInt(p_json_object, "id", _Scene.m_iID);
  AddText(p_json_object, "name", _Scene.m_sName);
  AddInt(p_json_object, "room", _Scene.m_iRoom);
  AddBool(p_json_object, "active", _Scene.m_bActive);
  AddInt(p_json_object, "state", _Scene.m_iState);
  AddText(p_json_object, "comment", _Scene.m_sComment);
}

}  // namespace

void JsonReport::Write(json_object* p_json_object) {
  size_t iLength = 0;
  const char* sText = json_object_to_json_string_length(
      p_json_object, JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE,
      &iLength);
  std::string sLine(sText, iLength);
  sLine.push_back('\n');
  fwrite(sLine.data(), 1, sLine.size(), m_pOutput);
  fflush(m_pOutput);
  json_object_put(p_json_object);
}

json_object* JsonReport::NewConnection(const char* sWhat) {
  json_object* p_json_event = NewEvent("connection");
  json_object_object_add(p_json_event, "what", json_object_new_string(sWhat));
  return p_json_event;
}

void JsonReport::Full(const Veru::PollLoop& _PollLoop, bool bShown) {
  json_object* p_json_event = NewEvent("full", bShown);
  json_object* p_json_engine = json_object_new_object();
  AddEngineFields(p_json_engine, _PollLoop);
  json_object_object_add(p_json_event, "engine", p_json_engine);
  json_object_object_add(p_json_event, "sections",
                         NewNamedList(_PollLoop.m_mapSection));
  json_object_object_add(p_json_event, "rooms",
                         NewNamedList(_PollLoop.m_mapRoom));
  json_object_object_add(p_json_event, "categories",
                         NewNamedList(_PollLoop.m_mapCategory));
  json_object* p_json_devices = json_object_new_array();
  for (const auto& device : _PollLoop.m_mapDevice) {
    json_object* p_json_device = json_object_new_object();
    AddDeviceFields(p_json_device, *device.second);
    json_object_array_add(p_json_devices, p_json_device);
  }
  json_object_object_add(p_json_event, "devices", p_json_devices);
  json_object* p_json_scenes = json_object_new_array();
  for (const auto& scene : _PollLoop.m_mapScene) {
    json_object* p_json_scene = json_object_new_object();
    AddSceneFields(p_json_scene, *scene.second);
    json_object_array_add(p_json_scenes, p_json_scene);
  }
  json_object_object_add(p_json_event, "scenes", p_json_scenes);
  Write(p_json_event);
}

void JsonReport::EngineState(const Veru::PollLoop& _PollLoop) {
  json_object* p_json_event = NewEvent("engine");
  AddEngineFields(p_json_event, _PollLoop);
  Write(p_json_event);
}

void JsonReport::Device(const Veru::Device& _Device, bool bShown) {
  json_object* p_json_event = NewEvent("device", bShown);
  AddDeviceFields(p_json_event, _Device);
  Write(p_json_event);
}

void JsonReport::Scene(const Veru::Scene& _Scene) {
  json_object* p_json_event = NewEvent("scene");
  AddSceneFields(p_json_event, _Scene);
  Write(p_json_event);
}

// The partial reply has no event: its line goes with the progress lines.
void JsonReport::Partial(int iDataVersion, int iLoadTime) {
  TextReport(stderr).Partial(iDataVersion, iLoadTime);
}

void JsonReport::PasswordNeeded() { Write(NewConnection("password_needed")); }

void JsonReport::UserPasswordNeeded() {
  Write(NewConnection("user_password_needed"));
}

void JsonReport::ConnectionRetry(bool bRemote) {
  json_object* p_json_event = NewConnection("retry");
  AddBool(p_json_event, "remote", bRemote);
  Write(p_json_event);
}

// The "lost" event that follows says it; the line goes with the progress
// lines.
void JsonReport::UnableToConnect() { fprintf(stderr, "Unable to connect.\n"); }

void JsonReport::ConnectionLost() { Write(NewConnection("lost")); }

void JsonReport::NoResponse(int iCount, int64_t tElapsed) {
  json_object* p_json_event = NewConnection("no_response");
  AddInt(p_json_event, "count", iCount);
  AddInt(p_json_event, "seconds", tElapsed);
  Write(p_json_event);
}

void JsonReport::ConnectionRestored(int64_t tOutageSeconds) {
  json_object* p_json_event = NewConnection("restored");
  AddInt(p_json_event, "seconds", tOutageSeconds);
  Write(p_json_event);
}

void JsonReport::Result(const CommandResult& _Result) {
  // The camera's URL line goes with the progress lines, the URL is in the
  // event.
  std::string sURLLine = CameraURLLine(_Result);
  fwrite(sURLLine.data(), 1, sURLLine.size(), stderr);
  bool bCamera = _Result.iKind == CommandResult::Kind::kImage ||
                 _Result.iKind == CommandResult::Kind::kStream;
  json_object* p_json_event = NewEvent("result");
  AddText(p_json_event, "command", _Result.sCommand);
  // A camera command: 0 when a URL was found, -1 when not.
  int iResult = _Result.iResult;
  if (bCamera) iResult = _Result.Succeeded() ? 0 : -1;
  AddInt(p_json_event, "result", iResult);
  // The controller's words, or why the command failed without them.
  std::string sMessage = SplitControllerText(_Result.sMessage).sWords;
  AddText(p_json_event, "message", sMessage.empty() ? _Result.sReason : sMessage);
  if (_Result.iKind == CommandResult::Kind::kStream) {
    AddText(p_json_event, "type", _Result.sType);
  }
  if (bCamera) AddText(p_json_event, "url", _Result.sURL);
  Write(p_json_event);
}

// The line on standard error, and a result event.
void JsonReport::Refused(const std::string& sCommand, const std::string& sReason) {
  json_object* p_json_event = NewEvent("result");
  AddText(p_json_event, "command", sCommand);
  AddInt(p_json_event, "result", -1);
  AddText(p_json_event, "message", sReason);
  Write(p_json_event);
}

void JsonReport::NoSuchDevice(const std::string& sCommand,
                              const std::string& sWord) {
  TextReport(stderr).NoSuchDevice(sCommand, sWord);
  json_object* p_json_event = NewEvent("result");
  AddText(p_json_event, "command", sCommand);
  AddInt(p_json_event, "result", -1);
  AddText(p_json_event, "message", "No such device: " + sWord);
  Write(p_json_event);
}

void JsonReport::Help() { TextReport(stderr).Help(); }

void JsonReport::Notice(const std::string& sText) {
  TextReport(stderr).Notice(sText);
}

// {"event":"history","time":T,"device":N or null,"since":T0,"changes":[...]}
void JsonReport::History(const HistoryAnswer& _Answer) {
  json_object* p_json_event = NewEvent("history");
  json_object_object_add(p_json_event, "device",
                         _Answer.iDevice != 0
                             ? json_object_new_int(_Answer.iDevice)
                             : nullptr);
  AddInt(p_json_event, "since", _Answer.tSince);
  json_object* p_json_changes = json_object_new_array();
  for (const HistoryEntry& _Entry : _Answer.vecChanges) {
    json_object* p_json_change = json_object_new_object();
    AddInt(p_json_change, "time", _Entry.tTime);
    AddInt(p_json_change, "device", _Entry.iDevice);
    AddText(p_json_change, "name", _Entry.sName);
    AddText(p_json_change, "variable", _Entry.sVariable);
    if (_Entry.bHasPrevious) {
      AddText(p_json_change, "previous", _Entry.sPrevious);
    } else {
      json_object_object_add(p_json_change, "previous", nullptr);
    }
    AddText(p_json_change, "value", _Entry.sValue);
    json_object_array_add(p_json_changes, p_json_change);
  }
  json_object_object_add(p_json_event, "changes", p_json_changes);
  Write(p_json_event);
}
