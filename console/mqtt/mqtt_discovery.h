// Home Assistant discovery: what entity each device and scene becomes, and
// its retained config on PREFIX/COMPONENT/OBJECT/config (mqtt_topics.h).
//
// The component comes from what the device reports, the first that fits:
//   LoadLevelStatus     light (on, off, brightness 0-100 as "dim N")
//   Status              switch (on, off)
//   Tripped             binary_sensor
//   CurrentTemperature  sensor (temperature, measurement, degrees Celsius)
//   CurrentLevel        sensor (measurement)
// A device with none of them gets no entity. Every scene is a scene
// (any payload on BASE/scene/ID/set runs it).
//
// Every config has unique_id (the object id), a device block (identifiers,
// name, suggested_area from the room, via_device the unit), an origin
// block, and availability on both BASE/bridge/state and BASE/bridge/unit
// (availability_mode all, value_template {{ value_json.state }}). A light
// and a switch read on, off and the level from BASE/device/ID/state (the
// console's one rule, mqtt_on_off.h); the other entities read their
// variable from the device's BASE/device/ID object.
//
// Pure functions: any thread.
#ifndef VERU_CONSOLE_MQTT_MQTT_DISCOVERY_H
#define VERU_CONSOLE_MQTT_MQTT_DISCOVERY_H

#include <string>

#include "console/mqtt/mqtt_topics.h"
#include "engine/model.h"

// "light", "switch", "binary_sensor", "sensor", or empty: no entity.
std::string DeviceComponent(const Veru::Device& _Device);

// The config payload for the device (sRoom: its room's name, empty when
// none); empty when the device gets no entity.
std::string DeviceConfig(const MqttTopics& _Topics, const Veru::Device& _Device,
                         const std::string& sRoom);

// The config payload for the scene.
std::string SceneConfig(const MqttTopics& _Topics, const Veru::Scene& _Scene,
                        const std::string& sRoom);

#endif  // VERU_CONSOLE_MQTT_MQTT_DISCOVERY_H
