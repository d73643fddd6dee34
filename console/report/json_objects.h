// The JSON objects the console writes about the home and about commands,
// made in one place so that every writer gives the same object: the --json
// event stream (json_report.h) and the MQTT bridge (console/mqtt/).
//
// Texts go in as valid UTF-8 (ValidUtf8: an ill-formed part becomes
// U+FFFD); numbers are numbers. Every New* returns an object the caller
// owns and releases (json_object_put), or hands on to JsonText.
// Pure functions: safe on any thread; the records are borrowed for the call.
#ifndef VERU_CONSOLE_REPORT_JSON_OBJECTS_H
#define VERU_CONSOLE_REPORT_JSON_OBJECTS_H

#include <cstdint>
#include <string>

#include "console/report/report.h"
#include "engine/model.h"

struct json_object;

void AddJsonText(json_object* p_json_object, const char* sKey,
                 const std::string& sText);
void AddJsonInt(json_object* p_json_object, const char* sKey, int64_t iValue);
void AddJsonBool(json_object* p_json_object, const char* sKey, bool bValue);

// {"event":sEvent,"time":T}, with "shown":true after the time when bShown:
// the start of every event (T from the clock seam).
json_object* NewJsonEvent(const char* sEvent, bool bShown = false);

// The device as the full event lists it: {"id","name","room","category",
// "state","comment","variables":{NAME:VALUE,...}}; AddDeviceFields puts
// the same members into an object that has some already (an event).
json_object* NewDeviceObject(const Veru::Device& _Device);
void AddDeviceFields(json_object* p_json_object, const Veru::Device& _Device);

// The scene as the full event lists it: {"id","name","room","active",
// "state","comment"}.
json_object* NewSceneObject(const Veru::Scene& _Scene);
void AddSceneFields(json_object* p_json_object, const Veru::Scene& _Scene);

// {"event":"result","time":T,"command":..,"result":..,"message":..}: the
// message is the controller's words (SplitControllerText), or the reason
// (sReason) when it sent none; a camera command adds "type" (stream) and "url", its result 0
// when a URL was found and -1 when not.
json_object* NewResultEvent(const CommandResult& _Result);

// The object as one line of plain JSON (no line end, "/" not escaped); the
// object is released.
std::string JsonText(json_object* p_json_object);

#endif  // VERU_CONSOLE_REPORT_JSON_OBJECTS_H
