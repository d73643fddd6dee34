// The full-screen view's reports: what the engine and the commands tell
// goes into the view's state in the screen's words. Nothing here calls the
// terminal.
#include "console/screen/screen_report.h"

#include "console/history/history_query.h"
#include "console/screen/screen_messages.h"
#include "console/screen/screen_state.h"

ScreenReport::ScreenReport(ScreenState* pState, Veru::PollLoop* pPollLoop)
    : m_pState(pState), m_pPollLoop(pPollLoop) {}

void ScreenReport::Device(const Veru::Device& _Device, bool bShown) {
  m_pState->SetDevice(_Device, bShown);
}

void ScreenReport::Scene(const Veru::Scene& _Scene) { m_pState->SetScene(_Scene); }

void ScreenReport::EngineState(const Veru::PollLoop&) { m_pState->Wake(); }

void ScreenReport::Full(const Veru::PollLoop& _PollLoop, bool bShown) {
  if (bShown) return m_pState->SetMessage("The whole home is on the screen");
  m_pState->SetHome(_PollLoop);
  m_pState->ReadUnit(m_pPollLoop);
}

void ScreenReport::Partial(int, int) { m_pState->SetReplied(); }

void ScreenReport::PasswordNeeded() {
  m_pState->SetConnection("password needed");
  m_pState->AskPassword();
}

void ScreenReport::UserPasswordNeeded() {
  m_pState->SetConnection("user name or password refused");
  m_pState->OfferWizard();
}

void ScreenReport::ConnectionRetry(bool bRemote) {
  m_pState->SetConnection(bRemote ? "trying again remotely" : "trying again locally");
  m_pState->ReadUnit(m_pPollLoop);
}

void ScreenReport::UnableToConnect() { m_pState->SetMessage("Unable to connect"); }

void ScreenReport::ConnectionLost() {
  m_pState->SetNoAnswer("lost");
  m_pState->SetMessage("The connection was lost; still looking for the unit");
}

void ScreenReport::NoResponse(int iCount, int64_t tElapsed) {
  m_pState->SetNoAnswer("no answer for " + std::to_string(iCount) +
                          (iCount == 1 ? " poll, " : " polls, ") +
                          FormatSpan(tElapsed));
}

void ScreenReport::ConnectionRestored(int64_t tOutageSeconds) {
  m_pState->SetConnection("connected");
  m_pState->SetMessage("Connection restored after " + FormatSpan(tOutageSeconds));
}

void ScreenReport::Result(const CommandResult& _Result) {
  m_pState->SetMessage(ScreenMessageOf(_Result));
}

void ScreenReport::NoSuchDevice(const std::string& sCommand, const std::string& sWord) {
  m_pState->SetMessage(sCommand + ": no such device " + sWord);
}

void ScreenReport::Help() { m_pState->ShowKeys(); }

void ScreenReport::Notice(const std::string& sText) { m_pState->SetMessage(sText); }

// The message line has room for one change: how many there are, and the
// last (the detail page shows a device's).
void ScreenReport::History(const HistoryAnswer& _Answer) {
  if (_Answer.vecChanges.empty()) {
    m_pState->SetMessage("No change since " +
                         FormatHistoryTime(_Answer.tSince));
    return;
  }
  m_pState->SetMessage(std::to_string(_Answer.vecChanges.size()) +
                       " changes; the last: " +
                       FormatHistoryLine(_Answer.vecChanges.back()));
}
