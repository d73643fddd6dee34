// Program life: restore the unit, start the engine, run the command loop.
#include "console/front_end.h"

#include "engine/poll_loop.h"

FrontEnd::FrontEnd()
    : m_pEngine(nullptr),
      m_pPollLoop(nullptr),
      m_bNeedPassword(false),
      m_bNeedUserPassword(false),
      m_pInput(stdin) {}

void FrontEnd::Run() {}
