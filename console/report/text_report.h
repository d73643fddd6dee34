// TextReport is the console's report as lines of text, the interactive
// default: the "---DEVICE" blocks, the scene, engine, full and partial lines
// and the command result on its report stream, the connection lines on
// standard output, help, "No such device" and notices on standard error.
// Text from the unit is printed with its control bytes escaped.
//
// The report stream is standard output in the interactive default; for a
// script's form (--once) it is the stream SetStandardOutputAside made, and
// standard output then is standard error, so that the connection lines go
// there with the progress lines.
//
// Threads: see Report. Every report is written with one fwrite of its whole
// text (a full report too), so a report of the poll thread is never split
// by a line of the console thread.
// Ownership: the stream is borrowed and never closed.
#ifndef VERU_CONSOLE_REPORT_TEXT_REPORT_H
#define VERU_CONSOLE_REPORT_TEXT_REPORT_H

#include <cstdio>
#include <string>

#include "console/report/report.h"

class TextReport : public Report {
 public:
  // bResultLineEnds: every result line ends with a line end (--do, where
  // no prompt follows it); the console's result line has none.
  explicit TextReport(FILE* pOutput, bool bResultLineEnds = false)
      : m_pOutput(pOutput), m_bResultLineEnds(bResultLineEnds) {}

  void Device(const Veru::Device& _Device, bool bShown) override;
  void Scene(const Veru::Scene& _Scene) override;
  void EngineState(const Veru::PollLoop& _PollLoop) override;
  void Full(const Veru::PollLoop& _PollLoop, bool bShown) override;
  void Partial(int iDataVersion, int iLoadTime) override;

  void PasswordNeeded() override;
  void UserPasswordNeeded() override;
  void ConnectionRetry(bool bRemote) override;
  void UnableToConnect() override;
  void ConnectionLost() override;
  void NoResponse(int iCount, int64_t tElapsed) override;
  // "veru-console: connection restored after 2 min 40 s" (see FormatSpan)
  // on standard error.
  void ConnectionRestored(int64_t tOutageSeconds) override;

  void Result(const CommandResult& _Result) override;
  void NoSuchDevice(const std::string& sCommand,
                    const std::string& sWord) override;
  // The reason is already on standard error; nothing more to write.
  void Refused(const std::string& /*sCommand*/,
               const std::string& /*sReason*/) override {}
  void Help() override;
  void Notice(const std::string& sText) override;
  void History(const HistoryAnswer& _Answer) override;

 private:
  // Writes sText to the report stream in one piece.
  void WriteReport(const std::string& sText);

  FILE* m_pOutput;
  bool m_bResultLineEnds;
};

// The camera command's URL line ("\n---URL for camera image: URL\n" or
// "\n---URL type: TYPE for camera stream: URL\n"), escaped; empty for the
// other kinds.
std::string CameraURLLine(const CommandResult& _Result);

#endif  // VERU_CONSOLE_REPORT_TEXT_REPORT_H
