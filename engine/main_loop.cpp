// The poll thread: start-up, the main loop and reconnecting.
#include "engine/poll_loop.h"

namespace Veru {

pthread_t PollLoop::Start() { return 0; }

void* PollLoop::ThreadEntry(void* pArg) {
  PollLoop* pPollLoop = static_cast<PollLoop*>(pArg);
  pPollLoop->MainLoop();
  pPollLoop->m_bRunning = false;
  return nullptr;
}

void PollLoop::MainLoop() {}

bool PollLoop::Reconnect() { return false; }

}  // namespace Veru
