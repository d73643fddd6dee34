// Home Assistant discovery configs (see mqtt_discovery.h).
#include "console/mqtt/mqtt_discovery.h"

#include <json-c/json.h>

#include "console/report/json_objects.h"

#ifndef VERU_VERSION
#define VERU_VERSION "unknown"
#endif

namespace {

bool Has(const Veru::Device& _Device, const char* sName) {
  return _Device.m_mapVariables.find(sName) != _Device.m_mapVariables.end();
}

json_object* Strings(std::initializer_list<std::string> vecTexts) {
  json_object* p_json_array = json_object_new_array();
  for (const std::string& sText : vecTexts) {
    json_object_array_add(p_json_array, json_object_new_string(sText.c_str()));
  }
  return p_json_array;
}

// The unit the entities hang under: "veru_SERIAL".
std::string UnitId(const MqttTopics& _Topics) {
  return "veru_" + std::to_string(_Topics.SerialNumber());
}

// What every config holds: unique_id, name (the device's own), device,
// origin and availability.
json_object* NewConfig(const MqttTopics& _Topics, const std::string& sObject,
                       const std::string& sName, const std::string& sRoom,
                       bool bUnitItself) {
  json_object* p_json_config = json_object_new_object();
  AddJsonText(p_json_config, "unique_id", sObject);
  AddJsonText(p_json_config, "name", sName);
  json_object* p_json_device = json_object_new_object();
  if (bUnitItself) {
    json_object_object_add(p_json_device, "identifiers",
                           Strings({UnitId(_Topics)}));
    AddJsonText(p_json_device, "name",
                "Veru unit " + std::to_string(_Topics.SerialNumber()));
  } else {
    json_object_object_add(p_json_device, "identifiers", Strings({sObject}));
    AddJsonText(p_json_device, "name", sName);
    AddJsonText(p_json_device, "via_device", UnitId(_Topics));
  }
  if (!bUnitItself && !sRoom.empty()) {
    AddJsonText(p_json_device, "suggested_area", sRoom);
  }
  json_object_object_add(p_json_config, "device", p_json_device);
  json_object* p_json_origin = json_object_new_object();
  AddJsonText(p_json_origin, "name", "veru-console");
  AddJsonText(p_json_origin, "sw_version", VERU_VERSION);
  json_object_object_add(p_json_config, "origin", p_json_origin);
  json_object* p_json_availability = json_object_new_array();
  for (const std::string& sTopic : {_Topics.BridgeState(), _Topics.BridgeUnit()}) {
    json_object* p_json_entry = json_object_new_object();
    AddJsonText(p_json_entry, "topic", sTopic);
    AddJsonText(p_json_entry, "value_template", "{{ value_json.state }}");
    json_object_array_add(p_json_availability, p_json_entry);
  }
  json_object_object_add(p_json_config, "availability", p_json_availability);
  AddJsonText(p_json_config, "availability_mode", "all");
  return p_json_config;
}

// "{{ 'on' if value_json.variables.NAME == '1' else 'off' }}" with the words
// given.
std::string OnOffTemplate(const char* sVariable, const char* sOn,
                          const char* sOff) {
  return std::string("{{ '") + sOn + "' if value_json.variables." + sVariable +
         " == '1' else '" + sOff + "' }}";
}

std::string ValueTemplate(const char* sVariable) {
  return std::string("{{ value_json.variables.") + sVariable + " }}";
}

}  // namespace

std::string DeviceComponent(const Veru::Device& _Device) {
  if (Has(_Device, "LoadLevelStatus")) return "light";
  if (Has(_Device, "Status")) return "switch";
  if (Has(_Device, "Tripped")) return "binary_sensor";
  if (Has(_Device, "CurrentTemperature") || Has(_Device, "CurrentLevel")) {
    return "sensor";
  }
  return "";
}

std::string DeviceConfig(const MqttTopics& _Topics, const Veru::Device& _Device,
                         const std::string& sRoom) {
  std::string sComponent = DeviceComponent(_Device);
  if (sComponent.empty()) return "";
  json_object* p_json_config = NewConfig(
      _Topics, _Topics.ObjectId(_Device.m_iID, false), _Device.m_sName, sRoom,
      false);
  std::string sState = _Topics.Device(_Device.m_iID);
  // A light's and a switch's on, off and level: the console's own rule, as
  // the bridge publishes it beside the device (mqtt_on_off.h); a null
  // there reads as "None", which Home Assistant takes for unknown.
  std::string sOnOff = _Topics.DeviceState(_Device.m_iID);
  std::string sSet = _Topics.DeviceSet(_Device.m_iID);
  bool bOnOff = sComponent == "light" || sComponent == "switch";
  AddJsonText(p_json_config, "state_topic", bOnOff ? sOnOff : sState);
  if (sComponent == "light") {
    AddJsonText(p_json_config, "command_topic", sSet);
    AddJsonText(p_json_config, "payload_on", "on");
    AddJsonText(p_json_config, "payload_off", "off");
    AddJsonText(p_json_config, "state_value_template",
                "{{ value_json.state }}");
    AddJsonText(p_json_config, "brightness_command_topic", sSet);
    AddJsonText(p_json_config, "brightness_command_template", "dim {{ value }}");
    AddJsonText(p_json_config, "brightness_state_topic", sOnOff);
    AddJsonText(p_json_config, "brightness_value_template",
                "{{ value_json.level }}");
    AddJsonInt(p_json_config, "brightness_scale", 100);
    AddJsonText(p_json_config, "on_command_type", "first");
  } else if (sComponent == "switch") {
    AddJsonText(p_json_config, "command_topic", sSet);
    AddJsonText(p_json_config, "payload_on", "on");
    AddJsonText(p_json_config, "payload_off", "off");
    AddJsonText(p_json_config, "state_on", "on");
    AddJsonText(p_json_config, "state_off", "off");
    AddJsonText(p_json_config, "value_template", "{{ value_json.state }}");
  } else if (sComponent == "binary_sensor") {
    AddJsonText(p_json_config, "value_template",
                OnOffTemplate("Tripped", "ON", "OFF"));
  } else if (Has(_Device, "CurrentTemperature")) {
    AddJsonText(p_json_config, "value_template",
                ValueTemplate("CurrentTemperature"));
    AddJsonText(p_json_config, "device_class", "temperature");
    AddJsonText(p_json_config, "state_class", "measurement");
    AddJsonText(p_json_config, "unit_of_measurement", "\xc2\xb0" "C");
  } else {
    AddJsonText(p_json_config, "value_template", ValueTemplate("CurrentLevel"));
    AddJsonText(p_json_config, "state_class", "measurement");
  }
  return JsonText(p_json_config);
}

std::string SceneConfig(const MqttTopics& _Topics, const Veru::Scene& _Scene,
                        const std::string& sRoom) {
  json_object* p_json_config = NewConfig(
      _Topics, _Topics.ObjectId(_Scene.m_iID, true), _Scene.m_sName, sRoom, true);
  AddJsonText(p_json_config, "command_topic", _Topics.SceneSet(_Scene.m_iID));
  AddJsonText(p_json_config, "payload_on", "ON");
  return JsonText(p_json_config);
}
