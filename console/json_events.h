// JsonEvents writes the --json event stream: one JSON object per line
// (built with json-c) on the program's standard output, and nothing else
// there. Open moves standard output aside for the events and points file
// descriptor 1 at standard error, so every other line the program prints
// (prompts, progress, connection messages) goes to standard error.
//
// Texts are written as the unit sent them, json-c escaping what must be
// escaped (a NUL byte inside a name becomes \u0000); numbers are numbers.
//
// Threads: any thread may write an event. Each event is one fwrite of a
// whole line followed by a flush, so events never interleave. The model
// events read the records they are given: the caller holds the model lock,
// or is the poll thread (the only writer of the model).
// Ownership: the front end owns the one JsonEvents; it is never closed.
#ifndef VERU_CONSOLE_JSON_EVENTS_H
#define VERU_CONSOLE_JSON_EVENTS_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/model.h"

struct json_object;

namespace Veru {
class PollLoop;
}

class JsonEvents {
 public:
  JsonEvents() = default;
  JsonEvents(const JsonEvents&) = delete;
  JsonEvents& operator=(const JsonEvents&) = delete;

  // Takes standard output for the events and sends file descriptor 1 to
  // standard error. False (nothing changed) when that cannot be done.
  bool Open();

  // {"event":"full","engine":{...},"devices":[...],"scenes":[...]}
  void Full(const Veru::PollLoop& _PollLoop);
  // {"event":"engine","state":2,"comment":"...","loadtime":..,...}
  void EngineState(const Veru::PollLoop& _PollLoop);
  // {"event":"device","id":5,"name":"...",...,"variables":{...}}
  void Device(const Veru::Device& _Device);
  // {"event":"scene","id":1,"name":"...","room":0,"active":true,...}
  void Scene(const Veru::Scene& _Scene);
  // {"event":"result","command":"5 on","result":0,"message":""}, with
  // "url" (and "type") when the command asked for a camera URL.
  void Result(const char* sCommand, int iResult, const std::string& sMessage,
              const std::string* pURL, const std::string* pType);
  // {"event":"connection","what":sWhat}: "password_needed",
  // "user_password_needed" or "lost".
  void Connection(const char* sWhat);
  // {"event":"connection","what":"retry","remote":true}
  void ConnectionRetry(bool bRemote);
  // {"event":"connection","what":"no_response","count":1,"seconds":0}
  void NoResponse(int iCount, int64_t tElapsed);

 private:
  // Writes the object as one line and releases it.
  void Write(json_object* p_json_object);

  FILE* m_pOutput = nullptr;
};

#endif  // VERU_CONSOLE_JSON_EVENTS_H
