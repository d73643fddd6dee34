// --once: the first full report, or the reason none will come.
#include "console/report/once_report.h"

#include "engine/poll_loop.h"

namespace {

// --once gives up after this many failed polls in a row.
constexpr int kOnceFailures = 3;

}  // namespace

void OnceReport::GiveUp(const char* sReason) {
  const char* sNone = nullptr;
  m_sFailure.compare_exchange_strong(sNone, sReason);
  m_pPollLoop->m_bQuit = true;
}

void OnceReport::TimedOut(int iSeconds) {
  if (m_bReported || !m_sTimedOut.empty()) return;
  m_sTimedOut = "the time allowed ran out (--timeout " +
                std::to_string(iSeconds) + " s)";
  GiveUp(m_sTimedOut.c_str());
}

void OnceReport::Device(const Veru::Device& _Device, bool bShown) {
  m_pInner->Device(_Device, bShown);
}

void OnceReport::Scene(const Veru::Scene& _Scene) { m_pInner->Scene(_Scene); }

void OnceReport::EngineState(const Veru::PollLoop& _PollLoop) {
  m_pInner->EngineState(_PollLoop);
}

void OnceReport::Full(const Veru::PollLoop& _PollLoop, bool bShown) {
  m_pInner->Full(_PollLoop, bShown);
  if (bShown) return;
  // This was the report asked for; the poll thread sends nothing more.
  m_bReported = true;
  m_pPollLoop->m_bQuit = true;
}

void OnceReport::Partial(int iDataVersion, int iLoadTime) {
  m_pInner->Partial(iDataVersion, iLoadTime);
}

void OnceReport::PasswordNeeded() {
  GiveUp("the unit needs a password (run veru-console without --once to "
         "give it)");
  m_pInner->PasswordNeeded();
}

void OnceReport::UserPasswordNeeded() {
  GiveUp("the user name or password was refused");
  m_pInner->UserPasswordNeeded();
}

void OnceReport::ConnectionRetry(bool bRemote) {
  m_pInner->ConnectionRetry(bRemote);
}

void OnceReport::UnableToConnect() { m_pInner->UnableToConnect(); }

void OnceReport::ConnectionLost() {
  GiveUp("the connection was lost");
  m_pInner->ConnectionLost();
}

void OnceReport::NoResponse(int iCount, int64_t tElapsed) {
  if (iCount >= kOnceFailures) GiveUp("the unit does not answer");
  m_pInner->NoResponse(iCount, tElapsed);
}

void OnceReport::ConnectionRestored(int64_t tOutageSeconds) {
  m_pInner->ConnectionRestored(tOutageSeconds);
}

void OnceReport::Result(const CommandResult& _Result) {
  m_pInner->Result(_Result);
}

void OnceReport::NoSuchDevice(const std::string& sCommand,
                              const std::string& sWord) {
  m_pInner->NoSuchDevice(sCommand, sWord);
}

void OnceReport::Refused(const std::string& sCommand,
                         const std::string& sReason) {
  m_pInner->Refused(sCommand, sReason);
}

void OnceReport::Help() { m_pInner->Help(); }

void OnceReport::Notice(const std::string& sText) { m_pInner->Notice(sText); }

void OnceReport::History(const HistoryAnswer& _Answer) {
  m_pInner->History(_Answer);
}
