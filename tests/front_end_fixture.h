// A wired front end (WiredFrontEnd: mutex, poll loop, no unit yet) whose
// input lines come from a text the test gives (a temporary file behind
// m_pInput). Units follow WiredFrontEnd's ownership rule; a test that
// replaces a unit the list does not own lets it go with DropUnit first.
#ifndef VERU_TESTS_FRONT_END_FIXTURE_H
#define VERU_TESTS_FRONT_END_FIXTURE_H

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/front_end.h"
#include "engine/poll_loop.h"
#include "tests/wired_front_end.h"

class TestFrontEnd {
 public:
  TestFrontEnd() = default;
  ~TestFrontEnd() {
    if (m_pFile != nullptr) fclose(m_pFile);
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
    _FrontEnd.SetInput(m_pFile);
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
    m_Wired.DropUnit();
    m_Wired.PollLoop()->m_mapEngine[pEngine->m_iSerialNumber] = pEngine;
    _FrontEnd.SetCurrentEngine(pEngine);
    return pEngine;
  }

  // No unit is current afterwards; see WiredFrontEnd::DropUnit.
  void DropUnit() { m_Wired.DropUnit(); }
  bool InUnitList(Veru::Engine* pEngine) { return m_Wired.InUnitList(pEngine); }
  Veru::PollLoop* PollLoop() { return m_Wired.PollLoop(); }

 private:
  WiredFrontEnd m_Wired;

 public:
  FrontEnd& _FrontEnd = m_Wired.m_FrontEnd;

 private:
  FILE* m_pFile = nullptr;
  int m_iLastMade = 0;
};

#endif  // VERU_TESTS_FRONT_END_FIXTURE_H
