// DeviceState is the console's one answer to "is this device on, and what
// is its level": the full-screen view's state column and its Space and +/-
// keys ask it, and so does any form that shows a device's state rather than
// its raw variables (the text report and the JSON stream print the
// variables as the unit sent them and do not ask).
//
// The rule, from the device's variables:
//   - the level is LoadLevelStatus when it is a whole number from 0 to 100;
//     a device can dim when it has LoadLevelStatus or LoadLevelTarget;
//   - on or off is Status when it is "1" or "0"; any other Status (or none)
//     says nothing, and then a level says it (above 0: on);
//   - neither: the device has no on/off state (a sensor, a thermostat).
// Threads: pure functions, any thread (the caller holds whatever guards the
//   variables it passes).
#ifndef VERU_CONSOLE_REPORT_DEVICE_STATE_H
#define VERU_CONSOLE_REPORT_DEVICE_STATE_H

#include "engine/variable_map.h"

struct DeviceState {
  enum class OnOff { kUnknown, kOff, kOn };
  OnOff eOnOff = OnOff::kUnknown;
  int iLevel = -1;  // 0-100; -1 when the device reports none
  bool bCanDim = false;

  bool Known() const { return eOnOff != OnOff::kUnknown; }
  bool On() const { return eOnOff == OnOff::kOn; }
};

DeviceState DeviceStateOf(const Veru::VariableMap& mapVariables);

#endif  // VERU_CONSOLE_REPORT_DEVICE_STATE_H
