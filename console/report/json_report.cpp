// The --json event stream: each report and each command result as one line
// of JSON.
#include "console/report/json_report.h"

#include <json-c/json.h>

#include <map>
#include <type_traits>

#include "console/report/json_objects.h"
#include "console/report/text_report.h"
#include "console/history/history_query.h"
#include "engine/poll_loop.h"

namespace {

// [{"id":1,"name":"..."},...] for the sections and the categories; the
// rooms add "section".
template <class Record>
json_object* NewNamedList(const std::map<int, Record*>& mapRecords) {
  json_object* p_json_list = json_object_new_array();
  for (const auto& record : mapRecords) {
    json_object* p_json_record = json_object_new_object();
    AddJsonInt(p_json_record, "id", record.second->m_iID);
    AddJsonText(p_json_record, "name", record.second->m_sName);
    if constexpr (std::is_same_v<Record, Veru::Room>) {
      AddJsonInt(p_json_record, "section", record.second->m_iSection);
    }
    json_object_array_add(p_json_list, p_json_record);
  }
  return p_json_list;
}

void AddEngineFields(json_object* p_json_object,
                     const Veru::PollLoop& _PollLoop) {
  AddJsonInt(p_json_object, "state", _PollLoop.m_iState);
  AddJsonText(p_json_object, "comment", _PollLoop.m_sComment);
  AddJsonInt(p_json_object, "loadtime", _PollLoop.m_iLoadTime);
  AddJsonInt(p_json_object, "dataversion", _PollLoop.m_iDataVersion);
  AddJsonBool(p_json_object, "heal", _PollLoop.m_bZWaveHeal);
}

}  // namespace

void JsonReport::Write(json_object* p_json_object) {
  std::string sLine = JsonText(p_json_object);
  sLine.push_back('\n');
  fwrite(sLine.data(), 1, sLine.size(), m_pOutput);
  fflush(m_pOutput);
}

json_object* JsonReport::NewConnection(const char* sWhat) {
  json_object* p_json_event = NewJsonEvent("connection");
  json_object_object_add(p_json_event, "what", json_object_new_string(sWhat));
  return p_json_event;
}

void JsonReport::Full(const Veru::PollLoop& _PollLoop, bool bShown) {
  json_object* p_json_event = NewJsonEvent("full", bShown);
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
    json_object_array_add(p_json_devices, NewDeviceObject(*device.second));
  }
  json_object_object_add(p_json_event, "devices", p_json_devices);
  json_object* p_json_scenes = json_object_new_array();
  for (const auto& scene : _PollLoop.m_mapScene) {
    json_object_array_add(p_json_scenes, NewSceneObject(*scene.second));
  }
  json_object_object_add(p_json_event, "scenes", p_json_scenes);
  Write(p_json_event);
}

void JsonReport::EngineState(const Veru::PollLoop& _PollLoop) {
  json_object* p_json_event = NewJsonEvent("engine");
  AddEngineFields(p_json_event, _PollLoop);
  Write(p_json_event);
}

void JsonReport::Device(const Veru::Device& _Device, bool bShown) {
  json_object* p_json_event = NewJsonEvent("device", bShown);
  AddDeviceFields(p_json_event, _Device);
  Write(p_json_event);
}

void JsonReport::Scene(const Veru::Scene& _Scene) {
  json_object* p_json_event = NewJsonEvent("scene");
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
  AddJsonBool(p_json_event, "remote", bRemote);
  Write(p_json_event);
}

// The "lost" event that follows says it; the line goes with the progress
// lines.
void JsonReport::UnableToConnect() { fprintf(stderr, "Unable to connect.\n"); }

void JsonReport::ConnectionLost() { Write(NewConnection("lost")); }

void JsonReport::NoResponse(int iCount, int64_t tElapsed) {
  json_object* p_json_event = NewConnection("no_response");
  AddJsonInt(p_json_event, "count", iCount);
  AddJsonInt(p_json_event, "seconds", tElapsed);
  Write(p_json_event);
}

void JsonReport::ConnectionRestored(int64_t tOutageSeconds) {
  json_object* p_json_event = NewConnection("restored");
  AddJsonInt(p_json_event, "seconds", tOutageSeconds);
  Write(p_json_event);
}

void JsonReport::Result(const CommandResult& _Result) {
  // The camera's URL line goes with the progress lines, the URL is in the
  // event.
  std::string sURLLine = CameraURLLine(_Result);
  fwrite(sURLLine.data(), 1, sURLLine.size(), stderr);
  Write(NewResultEvent(_Result));
}

// The line on standard error, and a result event.
void JsonReport::Refused(const std::string& sCommand, const std::string& sReason) {
  json_object* p_json_event = NewJsonEvent("result");
  AddJsonText(p_json_event, "command", sCommand);
  AddJsonInt(p_json_event, "result", -1);
  AddJsonText(p_json_event, "message", sReason);
  Write(p_json_event);
}

void JsonReport::NoSuchDevice(const std::string& sCommand,
                              const std::string& sWord) {
  TextReport(stderr).NoSuchDevice(sCommand, sWord);
  json_object* p_json_event = NewJsonEvent("result");
  AddJsonText(p_json_event, "command", sCommand);
  AddJsonInt(p_json_event, "result", -1);
  AddJsonText(p_json_event, "message", "No such device: " + sWord);
  Write(p_json_event);
}

void JsonReport::Help() { TextReport(stderr).Help(); }

void JsonReport::Notice(const std::string& sText) {
  TextReport(stderr).Notice(sText);
}

// {"event":"history","time":T,"device":N or null,"since":T0,"changes":[...]}
void JsonReport::History(const HistoryAnswer& _Answer) {
  json_object* p_json_event = NewJsonEvent("history");
  json_object_object_add(p_json_event, "device",
                         _Answer.iDevice != 0
                             ? json_object_new_int(_Answer.iDevice)
                             : nullptr);
  AddJsonInt(p_json_event, "since", _Answer.tSince);
  json_object* p_json_changes = json_object_new_array();
  for (const HistoryEntry& _Entry : _Answer.vecChanges) {
    json_object* p_json_change = json_object_new_object();
    AddJsonInt(p_json_change, "time", _Entry.tTime);
    AddJsonInt(p_json_change, "device", _Entry.iDevice);
    AddJsonText(p_json_change, "name", _Entry.sName);
    AddJsonText(p_json_change, "variable", _Entry.sVariable);
    if (_Entry.bHasPrevious) {
      AddJsonText(p_json_change, "previous", _Entry.sPrevious);
    } else {
      json_object_object_add(p_json_change, "previous", nullptr);
    }
    AddJsonText(p_json_change, "value", _Entry.sValue);
    json_object_array_add(p_json_changes, p_json_change);
  }
  json_object_object_add(p_json_event, "changes", p_json_changes);
  Write(p_json_event);
}
