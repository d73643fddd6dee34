// WiredFrontEnd is a front end wired to its poll loop as Run wires them
// before the poll thread starts: the model mutex initialised, the poll loop
// made and set in m_pPollLoop (so every hook a merge, a request or a command
// reaches is safe), and no current unit until NewUnit makes one. It is a
// friend of FrontEnd for this wiring alone; tests use the named operations.
// Every test fixture and the status benchmark build on it.
//
// Ownership, one rule: a unit record in the unit list (m_mapEngine) belongs
// to the poll loop, which deletes it; any other unit record belongs to the
// WiredFrontEnd, which frees it when it is let go (NewUnit, DropUnit) or at
// the end. It knows two such records: the one NewUnit made last and the
// current unit (which the program itself may have made, as restoring the
// setting files does).
// Threads: the test thread makes, uses and ends it; the poll thread, when
// one was started, must have ended before NewUnit, DropUnit or the end.
#ifndef VERU_TESTS_WIRED_FRONT_END_H
#define VERU_TESTS_WIRED_FRONT_END_H

#include <pthread.h>

#include <memory>
#include <utility>

#include "console/front_end.h"
#include "engine/model.h"
#include "engine/poll_loop.h"

class WiredFrontEnd {
 public:
  WiredFrontEnd() {
    pthread_mutex_init(m_FrontEnd.ModelMutex(), nullptr);
    m_FrontEnd.m_pPollLoop =
        new Veru::PollLoop(m_FrontEnd.ModelMutex(), &m_FrontEnd);
  }
  ~WiredFrontEnd() {
    DropUnit();
    delete m_FrontEnd.m_pPollLoop;
    pthread_mutex_destroy(m_FrontEnd.ModelMutex());
  }
  WiredFrontEnd(const WiredFrontEnd&) = delete;
  WiredFrontEnd& operator=(const WiredFrontEnd&) = delete;

  // Lets the current unit go and makes a fresh, empty unit record the
  // current one.
  Veru::Engine* NewUnit() {
    DropUnit();
    m_pMade = new Veru::Engine();
    m_FrontEnd.SetCurrentEngine(m_pMade);
    return m_pMade;
  }

  // No unit is current afterwards; the unit NewUnit made and the unit that
  // was current are freed unless the unit list holds them.
  void DropUnit() {
    Veru::Engine* pCurrent = m_FrontEnd.CurrentEngine();
    m_FrontEnd.SetCurrentEngine(nullptr);
    if (pCurrent != nullptr && pCurrent != m_pMade && !InUnitList(pCurrent)) {
      delete pCurrent;
    }
    if (m_pMade != nullptr && !InUnitList(m_pMade)) delete m_pMade;
    m_pMade = nullptr;
  }

  bool InUnitList(const Veru::Engine* pEngine) const {
    for (const auto& unit : m_FrontEnd.PollLoop()->m_mapEngine) {
      if (unit.second == pEngine) return true;
    }
    return false;
  }

  Veru::PollLoop* PollLoop() const { return m_FrontEnd.PollLoop(); }

  // Every report goes to pReport from now on, as Run's choice would send
  // it (the status benchmark feeds the view's state so).
  void SetReport(std::unique_ptr<Report> pReport) {
    m_FrontEnd.m_pReport = std::move(pReport);
  }

  // Where the front end keeps its current unit, for a report fan-out
  // made by hand (Run's choice gives it the same).
  const std::atomic<Veru::Engine*>* EngineSlot() const {
    return &m_FrontEnd.m_pEngine;
  }

  FrontEnd m_FrontEnd;

 private:
  Veru::Engine* m_pMade = nullptr;
};

#endif  // VERU_TESTS_WIRED_FRONT_END_H
