// The engine's reports about the model and the connection, passed on to the
// front end's one Report. Called on the poll thread; OnDevice and OnScene
// run inside a merge with the model mutex held, the others without it, and
// none of them locks. Each returns at once. The prompts they ask for are run
// by the command loop on the console thread when the next line arrives; the
// full-screen view asks for them itself, on its drawing thread.
#include "console/front_end.h"
#include "engine/poll_loop.h"

void FrontEnd::OnDevice(Veru::Device* pDevice) {
  m_pReport->Device(*pDevice, false);
}

void FrontEnd::OnScene(Veru::Scene* pScene) { m_pReport->Scene(*pScene); }

void FrontEnd::OnEngineState() { m_pReport->EngineState(*m_pPollLoop); }

void FrontEnd::OnFullData() { m_pReport->Full(*m_pPollLoop, false); }

void FrontEnd::OnPartial(int iDataVersion, int iLoadTime) {
  m_pReport->Partial(iDataVersion, iLoadTime);
}

void FrontEnd::PrintFullData() { m_pReport->Full(*m_pPollLoop, true); }

// The flag is set before the message is shown, so the line the user types
// in answer to the message is always routed to the prompt.
void FrontEnd::OnPasswordNeeded() {
  m_bNeedPassword = true;
  m_pReport->PasswordNeeded();
}

void FrontEnd::OnUserPasswordNeeded() {
  m_bNeedUserPassword = true;
  m_pReport->UserPasswordNeeded();
}

void FrontEnd::OnConnectionRetry() {
  Veru::Engine _Engine;
  if (!m_pPollLoop->CopyEngine(&_Engine)) return;
  m_pReport->ConnectionRetry(_Engine.m_bUsingRemote);
  SaveSettings(false);
}

void FrontEnd::OnUnableToConnect() { m_pReport->UnableToConnect(); }

void FrontEnd::OnConnectionLost() {
  m_bConnectionLost = true;
  m_pReport->ConnectionLost();
}

void FrontEnd::OnNoResponse(int iCount, int64_t tElapsed) {
  m_pReport->NoResponse(iCount, tElapsed);
}

void FrontEnd::OnConnectionRestored(int64_t tOutageSeconds) {
  // The outage is over: "quit" ends with 0 again.
  m_bConnectionLost = false;
  m_pReport->ConnectionRestored(tOutageSeconds);
}
