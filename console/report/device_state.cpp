// Whether a device is on, and its level, from its variables.
#include "console/report/device_state.h"

#include <string>

#include "console/number_text.h"

DeviceState DeviceStateOf(const Veru::VariableMap& mapVariables) {
  DeviceState _State;
  auto itLevel = mapVariables.find("LoadLevelStatus");
  if (itLevel != mapVariables.end()) _State.iLevel = PercentNumber(itLevel->second);
  _State.bCanDim = itLevel != mapVariables.end() ||
                   mapVariables.find("LoadLevelTarget") != mapVariables.end();
  auto itStatus = mapVariables.find("Status");
  if (itStatus != mapVariables.end() &&
      (itStatus->second == "0" || itStatus->second == "1")) {
    _State.eOnOff = itStatus->second == "1" ? DeviceState::OnOff::kOn
                                            : DeviceState::OnOff::kOff;
  } else if (_State.iLevel >= 0) {
    _State.eOnOff = _State.iLevel > 0 ? DeviceState::OnOff::kOn
                                      : DeviceState::OnOff::kOff;
  }
  return _State;
}
