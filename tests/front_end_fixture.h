// A front end set up as Run leaves it before the poll thread starts: its
// mutex initialised and its engine made, with no unit yet. Input lines come
// from a text the test gives (a temporary file behind m_pInput). The
// destructor frees what the program itself never frees: the engine, and the
// current unit when the unit list does not own it. A test that replaces a
// unit the list does not own frees it with DropUnit first.
#ifndef VERU_TESTS_FRONT_END_FIXTURE_H
#define VERU_TESTS_FRONT_END_FIXTURE_H

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/front_end.h"
#include "engine/poll_loop.h"

class TestFrontEnd {
 public:
  TestFrontEnd() {
    pthread_mutex_init(&_FrontEnd.m_Mutex, nullptr);
    _FrontEnd.m_pPollLoop = new Veru::PollLoop(&_FrontEnd.m_Mutex, &_FrontEnd);
  }
  ~TestFrontEnd() {
    DropUnit();
    delete _FrontEnd.m_pPollLoop;
    if (m_pFile != nullptr) fclose(m_pFile);
    pthread_mutex_destroy(&_FrontEnd.m_Mutex);
  }
  TestFrontEnd(const TestFrontEnd&) = delete;
  TestFrontEnd& operator=(const TestFrontEnd&) = delete;

  // Everything the console will read, end of input after it.
  void SetInput(const std::string& sText) {
    if (m_pFile != nullptr) fclose(m_pFile);
    m_pFile = tmpfile();
    ASSERT_NE(nullptr, m_pFile);
    fwrite(sText.data(), 1, sText.size(), m_pFile);
    rewind(m_pFile);
    _FrontEnd.m_pInput = m_pFile;
  }

  // What is left unread of the input.
  std::string RestOfInput() {
    std::string sRest;
    int c;
    while ((c = fgetc(m_pFile)) != EOF) sRest += static_cast<char>(c);
    return sRest;
  }

  // Makes a local unit at sIp the current one. It is put into the unit
  // list under a serial number of its own below 0, so the engine owns it
  // (and a Locate may delete it once it is no longer current).
  Veru::Engine* SetLocalUnit(const std::string& sIp) {
    Veru::Engine* pEngine = new Veru::Engine();
    pEngine->m_iSerialNumber = --m_iLastMade;
    pEngine->m_sIp = sIp;
    pEngine->m_bLocalAvailable = true;
    _FrontEnd.m_pPollLoop->m_mapEngine[pEngine->m_iSerialNumber] = pEngine;
    _FrontEnd.m_pEngine = pEngine;
    return pEngine;
  }

  // Frees the current unit unless the unit list owns it; no unit is
  // current afterwards.
  void DropUnit() {
    Veru::Engine* pEngine = _FrontEnd.m_pEngine.exchange(nullptr);
    if (pEngine != nullptr && !InUnitList(pEngine)) delete pEngine;
  }

  bool InUnitList(Veru::Engine* pEngine) {
    for (const auto& unit : _FrontEnd.m_pPollLoop->m_mapEngine) {
      if (unit.second == pEngine) return true;
    }
    return false;
  }

  Veru::PollLoop* PollLoop() { return _FrontEnd.m_pPollLoop; }

  FrontEnd _FrontEnd;

 private:
  FILE* m_pFile = nullptr;
  int m_iLastMade = 0;
};

#endif  // VERU_TESTS_FRONT_END_FIXTURE_H
