// A device's on/off state as the bridge publishes it (see mqtt_on_off.h).
#include "console/mqtt/mqtt_on_off.h"

#include "console/report/device_state.h"

std::string OnOffPayload(const Veru::Device& _Device) {
  const Veru::VariableMap& mapVariables = _Device.m_mapVariables;
  if (mapVariables.find("Status") == mapVariables.end() &&
      mapVariables.find("LoadLevelStatus") == mapVariables.end() &&
      mapVariables.find("LoadLevelTarget") == mapVariables.end()) {
    return "";
  }
  DeviceState _State = DeviceStateOf(mapVariables);
  std::string sPayload = "{\"state\":";
  sPayload += !_State.Known() ? "null" : _State.On() ? "\"on\"" : "\"off\"";
  sPayload += ",\"level\":";
  sPayload += _State.iLevel < 0 ? "null" : std::to_string(_State.iLevel);
  sPayload += "}";
  return sPayload;
}
