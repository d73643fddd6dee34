// The engine object itself: construction, destruction, the current unit,
// the model look-ups and the request to the current unit.
#include "engine/poll_loop.h"

#include <json-c/json.h>

#include "console/front_end.h"
#include "engine/clock.h"
#include "engine/requests.h"
#include "engine/transport.h"

namespace Veru {

namespace {

template <class Record>
void DeleteAll(std::map<int, Record*>* pMap) {
  for (auto& entry : *pMap) delete entry.second;
  pMap->clear();
}

}  // namespace

PollLoop::PollLoop(pthread_mutex_t* pMutex, FrontEnd* pFrontEnd)
    : m_pFrontEnd(pFrontEnd),
      m_iLoadTime(0),
      m_iDataVersion(0),
      m_iState(-2),
      m_bZWaveHeal(false),
      m_iMinimumDelay(2000),
      m_iNoResponseCount(0),
      m_iRetryCount(0),
      m_iTimeout(60),
      m_tFirstNoResponse(0),
      m_pMutex(pMutex),
      m_bQuit(false),
      m_bRunning(false),
      m_bSuspended(false) {}

PollLoop::~PollLoop() {
  DeleteAll(&m_mapDevice);
  DeleteAll(&m_mapScene);
  DeleteAll(&m_mapSection);
  DeleteAll(&m_mapRoom);
  DeleteAll(&m_mapCategory);
  // The current unit belongs to the map once a unit list was loaded; one
  // that never entered the map belongs to the front end.
  DeleteAll(&m_mapEngine);
}

Engine* PollLoop::CurrentEngine() const {
  return m_pFrontEnd == nullptr ? nullptr : m_pFrontEnd->m_pEngine.load();
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
  for (;;) {
    // Formed anew for every attempt, so a switch of unit or access mode
    // between attempts is followed.
    std::string sURL = GetBaseURL();
    // No unit, or a URL too long for its buffer: nothing can be sent, and
    // waiting would not change that, so the request ends at once.
    if (sURL.empty()) return -1;
    sURL += sPath;
    if (sURL.size() >= static_cast<size_t>(kUrlBufferSize)) return -1;
    int iResult = FetchURL(sURL, 90, pDataBlock);
    if (iResult == 0 && pDataBlock->m_iSize != 0) {
      if (pp_json_object != nullptr && pDataBlock->m_pData != nullptr) {
        json_tokener_error iError = json_tokener_success;
        json_object* p_json_object =
            json_tokener_parse_verbose(pDataBlock->m_pData, &iError);
        if (iError != json_tokener_success) return -1;
        *pp_json_object = p_json_object;
      }
      return 0;
    }
    if (iRetryWindow == 0 || tStart + iRetryWindow <= Now()) return -1;
    SleepMs(1000);
  }
}

}  // namespace Veru
