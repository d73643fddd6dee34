// Whether a device is on, and its level, from its variables.
#include "console/report/device_state.h"

#include <string>

namespace {

// The value when it is a whole number from 0 to 100 (digits only), else -1.
int Percent(const std::string& sValue) {
  if (sValue.empty() || sValue.size() > 3) return -1;
  int iValue = 0;
  for (char c : sValue) {
    if (c < '0' || c > '9') return -1;
    iValue = iValue * 10 + (c - '0');
  }
  return iValue <= 100 ? iValue : -1;
}

}  // namespace

DeviceState DeviceStateOf(const Veru::VariableMap& mapVariables) {
  DeviceState _State;
  auto itLevel = mapVariables.find("LoadLevelStatus");
  if (itLevel != mapVariables.end()) _State.iLevel = Percent(itLevel->second);
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
