// The engine's connection reports. Called on the poll thread without the
// model mutex held; each returns at once. The prompts they ask for are run
// by the command loop on the console thread when the next line arrives.
#include <cstdio>

#include "console/front_end.h"
#include "engine/poll_loop.h"

// The flag is set before the message is shown, so the line the user types
// in answer to the message is always routed to the prompt.
void FrontEnd::OnPasswordNeeded() {
  m_bNeedPassword = true;
  printf("PASSWORD NEEDED:  PRESS ENTER\n");
}

void FrontEnd::OnUserPasswordNeeded() {
  m_bNeedUserPassword = true;
  printf("USER/PASSWORD NEEDED:  PRESS ENTER\n");
}

void FrontEnd::OnConnectionRetry() {
  Veru::Engine _Engine;
  if (!m_pPollLoop->CopyEngine(&_Engine)) return;
  printf("******CONNECTION RETRY remote: %d******\n",
         _Engine.m_bUsingRemote ? 1 : 0);
  SaveSettings(false);
}

void FrontEnd::OnConnectionLost() {
  m_bConnectionLost = true;
  printf("******CONNECTION LOST******\n");
}
