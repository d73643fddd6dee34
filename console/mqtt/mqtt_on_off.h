// The on/off state the bridge publishes beside each switchable device
// (BASE/device/ID/state), so that whoever reads it (Home Assistant's light
// and switch, a script) gets the console's one answer to "is it on, and at
// what level" (DeviceStateOf, console/report/device_state.h), the same the
// full-screen view shows, instead of a rule of its own over the variables:
//
//   {"state":"on","level":30}     on, at level 30
//   {"state":"off","level":null}  off, no level reported
//   {"state":null,"level":null}   the variables say neither
//
// A device has such a topic when it has a variable the rule reads for on or
// off: Status, LoadLevelStatus or LoadLevelTarget. BASE/device/ID itself
// keeps the device object unchanged.
//
// Pure functions: any thread.
#ifndef VERU_CONSOLE_MQTT_MQTT_ON_OFF_H
#define VERU_CONSOLE_MQTT_MQTT_ON_OFF_H

#include <string>

#include "engine/model.h"

// The payload for the device, or empty when it has no on/off state topic.
std::string OnOffPayload(const Veru::Device& _Device);

#endif  // VERU_CONSOLE_MQTT_MQTT_ON_OFF_H
