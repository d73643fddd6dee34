// Status polling and merging.
#include <json-c/json.h>

#include <cstring>

#include "engine/poll_loop.h"
#include "engine/requests.h"
#include "engine/transport.h"

namespace Veru {

json_object* PollLoop::GetStatus() {
  std::string URL = FormatStatusPath(m_iLoadTime, m_iDataVersion,
                                     m_iMinimumDelay, m_iTimeout);
  DataBlock _DataBlock(true);
  json_object* p_json_object = nullptr;
  if (Request(URL, &_DataBlock, &p_json_object, 0) == -1 &&
      _DataBlock.m_pData != nullptr &&
      strncmp(_DataBlock.m_pData, "Invalid user/pass", 17) == 0) {
    MutexHolder _Lock(m_pMutex);
    Engine* pEngine = CurrentEngine();
    if (pEngine != nullptr) pEngine->m_bInvalidUserPass = true;
  }
  return p_json_object;
}
void PollLoop::ParseStatus(json_object* p_json_object) {
  if (p_json_object != nullptr) json_object_put(p_json_object);
}
void PollLoop::ClearData() {}
void PollLoop::ParseSections(json_object*) {}
void PollLoop::ParseRooms(json_object*) {}
void PollLoop::ParseCategories(json_object*) {}
void PollLoop::ParseScenes(json_object*, bool) {}
void PollLoop::ParseDevices(json_object*, bool) {}

}  // namespace Veru
