// The engine object itself: construction, destruction, the current unit,
// the model look-ups and the request to the current unit.
#include "engine/poll_loop.h"

#include <json-c/json.h>

#include <cstdio>

#include "console/front_end.h"
#include "engine/clock.h"
#include "engine/json_reply.h"
#include "engine/output_line.h"
#include "engine/requests.h"
#include "engine/transport.h"

namespace Veru {

PollLoop::PollLoop(pthread_mutex_t* pMutex, FrontEnd* pFrontEnd)
    : m_pFrontEnd(pFrontEnd),
      m_pMutex(pMutex),
      m_iLoadTime(0),
      m_iDataVersion(0),
      m_iState(-2),
      m_bZWaveHeal(false),
      m_iMinimumDelay(kMinimumDelayMs),
      m_iNoResponseCount(0),
      m_iRetryCount(0),
      m_iTimeout(60),
      m_tFirstNoResponse(0),
      m_iOutagePauseMs(0),
      m_tNoAnswerSince(0),
      m_tLastLocalProbe(0),
      m_bQuit(false),
      m_bRunning(false),
      m_bSuspended(false),
      m_bNoAnswer(false),
      m_bGivenUp(false),
      m_iCommandsRunning(0),
      m_iDeadlineMs(0),
      m_bQuietRetries(false) {}

PollLoop::~PollLoop() {
  ClearData();
  // The current unit belongs to the map once a unit list was loaded; one
  // that never entered the map belongs to the front end.
  for (auto& entry : m_mapEngine) delete entry.second;
}

Engine* PollLoop::CurrentEngine() const {
  return m_pFrontEnd->m_pEngine.load();
}

bool PollLoop::CopyEngine(Engine* p_Engine) {
  MutexHolder _Lock(m_pMutex);
  Engine* pEngine = CurrentEngine();
  if (pEngine == nullptr) return false;
  *p_Engine = *pEngine;
  return true;
}

Device* PollLoop::FindDevice(int iID) {
  auto it = m_mapDevice.find(iID);
  return it == m_mapDevice.end() ? nullptr : it->second;
}

std::string PollLoop::GetBaseURL() {
  Engine _Engine;
  if (!CopyEngine(&_Engine)) return "";
  if (_Engine.m_bUsingRemote) {
    return FormatRemoteBaseURL(_Engine.m_sFwdActive, _Engine.m_sUsername,
                               _Engine.m_sPassword, _Engine.m_iSerialNumber);
  }
  return FormatLocalBaseURL(_Engine.m_sIp);
}

int PollLoop::Request(std::string sPath, DataBlock* pDataBlock,
                      json_object** pp_json_object, int iRetryWindow) {
  // An empty path is what a formatter gives for a request it refused; it
  // must not turn into a request for the bare base URL.
  if (sPath.empty()) return -1;
  int64_t tStart = Now();
  // The "GET:" lines of this request's retries, hidden after the first
  // failed attempt when m_bQuietRetries is set; shown again at the end.
  FetchLinesOfThisThread _Quiet;
  for (;;) {
    // Formed anew for every attempt, so a switch of unit or access mode
    // between attempts is followed.
    std::string sURL = GetBaseURL();
    // No unit, or a URL too long for its buffer: nothing can be sent, and
    // waiting would not change that, so the request ends at once.
    if (sURL.empty()) return -1;
    sURL += sPath;
    if (sURL.size() >= static_cast<size_t>(kUrlBufferSize)) return -1;
    // Past the deadline the request ends unsent.
    if (PastDeadline()) return -1;
    int iResult =
        FetchURL(sURL, MaskPassword(sURL), FetchTimeLimit(), pDataBlock);
    if (iResult == 0 && pDataBlock->m_iSize != 0) {
      if (pp_json_object != nullptr && pDataBlock->m_pData != nullptr) {
        bool bJSON = false;
        *pp_json_object = ParseReply(pDataBlock->m_pData, &bJSON);
        if (!bJSON) return -1;
      }
      return 0;
    }
    // Once the fetches are stopped (the program ends) none would be sent.
    if (iRetryWindow == 0 || tStart + iRetryWindow <= Now() ||
        FetchesStopped() || PastDeadline()) {
      return -1;
    }
    if (m_bQuietRetries && _Quiet.IsShown()) {
      BeginErrorLine();
      fprintf(stderr, "veru-console: no answer from the unit yet; trying "
                      "again quietly\n");
      _Quiet.Hide();
    }
    SleepMs(1000);
  }
}

bool PollLoop::PastDeadline() const {
  int64_t iDeadlineMs = m_iDeadlineMs;
  return iDeadlineMs != 0 && NowMs() >= iDeadlineMs;
}

int PollLoop::FetchTimeLimit() const {
  int64_t iDeadlineMs = m_iDeadlineMs;
  if (iDeadlineMs == 0) return kRequestTimeLimit;
  int64_t iLeftS = (iDeadlineMs - NowMs() + 999) / 1000;
  if (iLeftS < 1) return 1;
  return iLeftS < kRequestTimeLimit ? static_cast<int>(iLeftS) : kRequestTimeLimit;
}

}  // namespace Veru
