// JsonReport writes the --json event stream: one JSON object per line
// (built with json-c) on its report stream, which Run made with
// SetStandardOutputAside, so that nothing else reaches standard output:
// every other line the program prints (prompts, progress) goes to standard
// error, and so do the lines that have no event (the partial reply's line,
// "Unable to connect.", help, "No such device", notices).
//
// Texts are written as the unit sent them, json-c escaping what must be
// escaped (a NUL byte inside a name becomes \u0000); numbers are numbers.
//
// Threads: see Report. Each event is one fwrite of a whole line followed by
// a flush, so events never interleave.
// Ownership: the stream is borrowed and never closed.
#ifndef VERU_CONSOLE_JSON_REPORT_H
#define VERU_CONSOLE_JSON_REPORT_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "console/report.h"

struct json_object;

class JsonReport : public Report {
 public:
  explicit JsonReport(FILE* pOutput) : m_pOutput(pOutput) {}

  // {"event":"device","id":5,"name":"...",...,"variables":{...}}
  void Device(const Veru::Device& _Device, bool bShown) override;
  // {"event":"scene","id":1,"name":"...","room":0,"active":true,...}
  void Scene(const Veru::Scene& _Scene) override;
  // {"event":"engine","state":2,"comment":"...","loadtime":..,...}
  void EngineState(const Veru::PollLoop& _PollLoop) override;
  // {"event":"full","engine":{...},"devices":[...],"scenes":[...]}
  void Full(const Veru::PollLoop& _PollLoop, bool bShown) override;
  void Partial(int iDataVersion, int iLoadTime) override;

  // {"event":"connection","what":W} with W "password_needed",
  // "user_password_needed" or "lost"; "retry" with "remote":true/false;
  // "no_response" with "count" and "seconds"; "restored" with "seconds".
  void PasswordNeeded() override;
  void UserPasswordNeeded() override;
  void ConnectionRetry(bool bRemote) override;
  void UnableToConnect() override;
  void ConnectionLost() override;
  void NoResponse(int iCount, int64_t tElapsed) override;
  void ConnectionRestored(int64_t tOutageSeconds) override;

  // {"event":"result","command":"5 on","result":0,"message":""}, with
  // "url" (and "type") when the command asked for a camera URL.
  void Result(const CommandResult& _Result) override;
  void NoSuchDevice(const std::string& sCommand,
                    const std::string& sWord) override;
  void Help() override;
  void Notice(const std::string& sText) override;

 private:
  // Writes the object as one line and releases it.
  void Write(json_object* p_json_object);
  // {"event":"connection","what":sWhat}, not yet written.
  json_object* NewConnection(const char* sWhat);

  FILE* m_pOutput;
};

#endif  // VERU_CONSOLE_JSON_REPORT_H
