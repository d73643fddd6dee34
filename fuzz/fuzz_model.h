// The setting every fuzz target of the model works in: a front end with its
// mutex, a current unit and the engine, wired as the program wires them, so
// that the merge, the printing hooks and the locator run exactly as they do
// in the program. Standard output goes to /dev/null (the hooks still build
// and write every line).
//
// Ownership: the engine owns the model and the unit list; the current unit
// is owned here until a locator merge puts it into the unit list.
#ifndef VERU_FUZZ_FUZZ_MODEL_H
#define VERU_FUZZ_FUZZ_MODEL_H

#include <json-c/json.h>
#include <pthread.h>

#include <cstdio>
#include <string>

#include "console/front_end.h"
#include "engine/json_reply.h"
#include "engine/poll_loop.h"

class FuzzModel {
 public:
  // iSerialNumber: the current unit's; not 0, so that a reply naming the
  // unit's serial number never writes setting files.
  explicit FuzzModel(int iSerialNumber)
      : m_PollLoop(m_FrontEnd.ModelMutex(), &m_FrontEnd) {
    pthread_mutex_init(m_FrontEnd.ModelMutex(), nullptr);
    m_pUnit = new Veru::Engine();
    m_pUnit->m_iSerialNumber = iSerialNumber;
    m_pUnit->m_sIp = "127.0.0.5";
    m_pUnit->m_sUsername = "demo";
    m_pUnit->m_sPassword = "demo";
    m_pUnit->m_sFwdActive = "127.0.0.1:3443";
    m_FrontEnd.SetCurrentEngine(m_pUnit);
    m_FrontEnd.m_pPollLoop = &m_PollLoop;
  }
  ~FuzzModel() {
    if (!InUnitList(m_pUnit)) delete m_pUnit;
    pthread_mutex_destroy(m_FrontEnd.ModelMutex());
  }
  FuzzModel(const FuzzModel&) = delete;
  FuzzModel& operator=(const FuzzModel&) = delete;

  bool InUnitList(Veru::Engine* pEngine) const {
    for (const auto& unit : m_PollLoop.m_mapEngine) {
      if (unit.second == pEngine) return true;
    }
    return false;
  }

  FrontEnd m_FrontEnd;
  Veru::PollLoop m_PollLoop;
  Veru::Engine* m_pUnit;
};

// Sends standard output to /dev/null once.
inline void SilenceStdout() {
  static bool s_bDone = false;
  if (s_bDone) return;
  s_bDone = true;
  if (freopen("/dev/null", "w", stdout) == nullptr) perror("fuzz: /dev/null");
}

#endif  // VERU_FUZZ_FUZZ_MODEL_H
