// JsonReport writes the --json event stream: one JSON object per line
// (built with json-c) on its report stream, which Run made with
// SetStandardOutputAside, so that nothing else reaches standard output:
// every other line the program prints (prompts, progress) goes to standard
// error, and so do the lines that have no event (the partial reply's line,
// "Unable to connect.", help, "No such device", notices).
//
// Every event is an object whose first member "event" names it and whose
// second, "time", is when it was made (seconds since the epoch, from the
// clock seam); the events that answer "show" have "shown":true next.
// Texts are written as the unit sent them, as valid UTF-8 (ValidUtf8: an
// ill-formed part becomes U+FFFD), json-c escaping what must be escaped (a
// NUL byte inside a name becomes \u0000); numbers are numbers.
//
// Threads: see Report. Each event is one fwrite of a whole line followed by
// a flush, so events never interleave.
// Ownership: the stream is borrowed and never closed.
#ifndef VERU_CONSOLE_REPORT_JSON_REPORT_H
#define VERU_CONSOLE_REPORT_JSON_REPORT_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "console/report/report.h"

struct json_object;

class JsonReport : public Report {
 public:
  explicit JsonReport(FILE* pOutput) : m_pOutput(pOutput) {}

  // {"event":"device","time":T,"id":5,"name":"...",...,"variables":{...}}
  void Device(const Veru::Device& _Device, bool bShown) override;
  // {"event":"scene","time":T,"id":1,"name":"...","room":0,"active":true,...}
  void Scene(const Veru::Scene& _Scene) override;
  // {"event":"engine","time":T,"state":2,"comment":"...","loadtime":..,...}
  void EngineState(const Veru::PollLoop& _PollLoop) override;
  // {"event":"full","time":T,"engine":{...},"sections":[{"id":..,"name":..}],
  //  "rooms":[{"id":..,"name":..,"section":..}],"categories":[{"id":..,
  //  "name":..}],"devices":[...],"scenes":[...]}
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

  // {"event":"result","time":T,"command":"5 on","result":0,"message":""}:
  // the message is the controller's error text without its leading blank
  // and its line end. A camera command adds "url" (and "type" for the
  // stream), its "result" 0 when a URL was found and -1 when not.
  void Result(const CommandResult& _Result) override;
  // "No such device: WORD" on standard error, and a result event with
  // "result" -1 and that message.
  void Refused(const std::string& sCommand, const std::string& sReason) override;
  void NoSuchDevice(const std::string& sCommand,
                    const std::string& sWord) override;
  void Help() override;
  void Notice(const std::string& sText) override;
  void History(const HistoryAnswer& _Answer) override;

 private:
  // Writes the object as one line and releases it.
  void Write(json_object* p_json_object);
  // {"event":"connection","what":sWhat}, not yet written.
  json_object* NewConnection(const char* sWhat);

  FILE* m_pOutput;
};

#endif  // VERU_CONSOLE_REPORT_JSON_REPORT_H
