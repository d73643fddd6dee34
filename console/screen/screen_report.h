// ScreenReport is the full-screen view's form of the Report: what the
// engine and the commands tell goes into the view's state (ScreenState) in
// words for the screen, and wakes the drawing loop. Nothing here calls the
// terminal or waits.
//
// Threads: as report.h says for each method; for the view, Result,
//   NoSuchDevice, Help and Notice run on the view's command worker, and
//   Device and Full with bShown too ("show" typed after ':'). Each method
//   only writes the state under its lock.
// Ownership: the front end owns the report; the state is the Screen's,
//   which outlives every call (the poll thread ends before it goes).
#ifndef VERU_CONSOLE_SCREEN_SCREEN_REPORT_H
#define VERU_CONSOLE_SCREEN_SCREEN_REPORT_H

#include <cstdint>
#include <string>

#include "console/report/report.h"

class ScreenState;

namespace Veru {
class PollLoop;
}

class ScreenReport : public Report {
 public:
  // pPollLoop: where the header's words on the current unit are read.
  ScreenReport(ScreenState* pState, Veru::PollLoop* pPollLoop);

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
  ScreenState* m_pState;
  Veru::PollLoop* m_pPollLoop;
};

#endif  // VERU_CONSOLE_SCREEN_SCREEN_REPORT_H
