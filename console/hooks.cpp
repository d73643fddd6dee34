// The engine's connection reports. Called on the poll thread without the
// model mutex held; each returns at once. The prompts they ask for are run
// by the command loop on the console thread when the next line arrives.
// With --json each report is a "connection" event instead of a line; with
// --once a report that no full report will follow ends polling.
#include <cstdio>

#include "console/front_end.h"
#include "engine/poll_loop.h"

namespace {

// --once gives up after this many failed polls in a row.
constexpr int kOnceFailures = 3;

}  // namespace

// The flag is set before the message is shown, so the line the user types
// in answer to the message is always routed to the prompt.
void FrontEnd::OnPasswordNeeded() {
  GiveUpOnce("the unit needs a password (run veru-console without --once "
             "to give it)");
  m_bNeedPassword = true;
  if (m_pJsonEvents != nullptr) {
    return m_pJsonEvents->Connection("password_needed");
  }
  printf("PASSWORD NEEDED:  PRESS ENTER\n");
}

void FrontEnd::OnUserPasswordNeeded() {
  GiveUpOnce("the user name or password was refused");
  m_bNeedUserPassword = true;
  if (m_pJsonEvents != nullptr) {
    return m_pJsonEvents->Connection("user_password_needed");
  }
  printf("USER/PASSWORD NEEDED:  PRESS ENTER\n");
}

void FrontEnd::OnConnectionRetry() {
  Veru::Engine _Engine;
  if (!m_pPollLoop->CopyEngine(&_Engine)) return;
  if (m_pJsonEvents != nullptr) {
    m_pJsonEvents->ConnectionRetry(_Engine.m_bUsingRemote);
  } else {
    printf("******CONNECTION RETRY remote: %d******\n",
           _Engine.m_bUsingRemote ? 1 : 0);
  }
  SaveSettings(false);
}

void FrontEnd::OnConnectionLost() {
  m_bConnectionLost = true;
  GiveUpOnce("the connection was lost");
  if (m_pJsonEvents != nullptr) return m_pJsonEvents->Connection("lost");
  printf("******CONNECTION LOST******\n");
}

void FrontEnd::OnNoResponse(int iCount, int64_t tElapsed) {
  if (iCount >= kOnceFailures) GiveUpOnce("the unit does not answer");
  if (m_pJsonEvents != nullptr) {
    return m_pJsonEvents->NoResponse(iCount, tElapsed);
  }
  printf("!!!!!!!!!! NO RESPONSE COUNT %d time %ld !!!!!!!!!\n", iCount,
         static_cast<long>(tElapsed));
}

void FrontEnd::GiveUpOnce(const char* sReason) {
  if (!m_Options.m_bOnce) return;
  const char* sNone = nullptr;
  m_sOnceFailure.compare_exchange_strong(sNone, sReason);
  m_pPollLoop->m_bQuit = true;
}
