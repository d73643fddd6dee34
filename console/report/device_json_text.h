// DeviceJsonText writes a device's JSON object straight into a string, byte
// for byte the text JsonText(NewDeviceObject(...)) makes (json_objects.h),
// without building json-c's tree first: the MQTT bridge writes one for
// every device of a full reply, and the tree's allocations were most of
// that work. Fields and their order, the escapes (", \, the control
// characters, "/" left alone) and the repair of ill-formed UTF-8
// (ValidUtf8) are json-c's. A device with a variable name that holds a NUL
// byte or ill-formed UTF-8 (json-c cuts the one and the repair changes the
// other, so two names could become one key) is written through json-c.
//
// Threads: a pure function, callable from any thread.
#ifndef VERU_CONSOLE_REPORT_DEVICE_JSON_TEXT_H
#define VERU_CONSOLE_REPORT_DEVICE_JSON_TEXT_H

#include <string>

#include "engine/model.h"

std::string DeviceJsonText(const Veru::Device& _Device);

#endif  // VERU_CONSOLE_REPORT_DEVICE_JSON_TEXT_H
