// The locator service: which units an account may reach, and how.
//
// Locate asks the main locator server, then the backup server when the main
// one gives no document, and rebuilds m_mapEngine from the reply. The fetches
// run without the lock; ParseUnits holds it for the whole rebuild. Runs on
// the caller's thread (the wizard on the console thread, the main loop on the
// poll thread).
#include <json-c/json.h>

#include <string_view>

#include "engine/json_reply.h"
#include "engine/poll_loop.h"
#include "engine/requests.h"
#include "engine/transport.h"

#ifndef VERU_LOCATOR_MAIN
#error "VERU_LOCATOR_MAIN (host[:port] of the main locator server) is not set"
#endif
#ifndef VERU_LOCATOR_BACKUP
#error "VERU_LOCATOR_BACKUP (host[:port] of the backup locator server) is not set"
#endif

namespace Veru {

namespace {

// Seconds the fetch program may take for one locator request.
constexpr int kLocatorTimeLimit = 30;

// Fetches one locator URL into *pDataBlock and parses it. Returns the
// document (the caller releases it with json_object_put), or null when there
// is none: the URL does not fit, the fetch failed, the reply is empty or not
// JSON, or it is the JSON literal null.
json_object* FetchDocument(const std::string& sURL, DataBlock* pDataBlock) {
  if (sURL.empty()) return nullptr;
  pDataBlock->m_iSize = 0;
  // Locator URLs hold no password.
  if (FetchURL(sURL, sURL, kLocatorTimeLimit, pDataBlock) != 0) return nullptr;
  if (pDataBlock->m_iSize == 0 || pDataBlock->m_pData == nullptr) {
    return nullptr;
  }
  return ParseReply(pDataBlock->m_pData);
}

// "users": a present array replaces the list; null elements are skipped.
void ReadUsers(json_object* p_json_object, Engine* pEngine) {
  json_object* p_users = GetMember(p_json_object, "users");
  if (!json_object_is_type(p_users, json_type_array)) return;
  pEngine->m_mapUsers.clear();
  size_t iCount = json_object_array_length(p_users);
  for (size_t i = 0; i < iCount; ++i) {
    std::string_view sUser;
    if (GetText(json_object_array_get_idx(p_users, i), &sUser)) {
      pEngine->m_mapUsers[std::string(sUser)] = true;
    }
  }
}

// "forwardServers": each object element with both "hostName" and "primary"
// sets the main (primary non-zero) or the backup forward server; later
// elements win. Other elements are skipped.
void ReadForwardServers(json_object* p_json_object, Engine* pEngine) {
  json_object* p_servers = GetMember(p_json_object, "forwardServers");
  if (!json_object_is_type(p_servers, json_type_array)) return;
  size_t iCount = json_object_array_length(p_servers);
  for (size_t i = 0; i < iCount; ++i) {
    json_object* p_server = json_object_array_get_idx(p_servers, i);
    if (!json_object_is_type(p_server, json_type_object)) continue;
    std::string_view sHost;
    json_object* p_primary = GetMember(p_server, "primary");
    if (!GetText(GetMember(p_server, "hostName"), &sHost) ||
        p_primary == nullptr) {
      continue;
    }
    if (json_object_get_int(p_primary) != 0) {
      pEngine->m_sFwdMain.assign(sHost);
    } else {
      pEngine->m_sFwdBack.assign(sHost);
    }
  }
}

// Copies one unit element into its record. Lock held.
void MergeUnit(json_object* p_unit, Engine* pEngine,
               const std::string& sUsername) {
  pEngine->m_sUsername = sUsername;
  CopyMemberText(p_unit, "FirmwareVersion", &pEngine->m_sFirmware);
  CopyMemberText(p_unit, "name", &pEngine->m_sName);
  CopyMemberText(p_unit, "ipAddress", &pEngine->m_sIp);
  CopyMemberText(p_unit, "active_server", &pEngine->m_sFwdActive);
  ReadUsers(p_unit, pEngine);
  ReadForwardServers(p_unit, pEngine);
  pEngine->UpdateAvailability();
}

}  // namespace

int PollLoop::Locate(std::string sUsername) {
  DataBlock _DataBlock(true);
  json_object* p_json_object = FetchDocument(
      FormatLocatorURL(VERU_LOCATOR_MAIN, sUsername), &_DataBlock);
  if (p_json_object == nullptr) {
    _DataBlock.Release();
    p_json_object = FetchDocument(
        FormatLocatorURL(VERU_LOCATOR_BACKUP, sUsername), &_DataBlock);
  }
  if (p_json_object == nullptr) return -1;
  int iResult = ParseUnits(p_json_object, sUsername);
  json_object_put(p_json_object);
  return iResult;
}

int PollLoop::ParseUnits(json_object* p_json_object,
                         const std::string& sUsername) {
  MutexHolder _Lock(m_pMutex);
  ClearEngines();
  // A top level that is not an object has no "units".
  json_object* p_units = GetMember(p_json_object, "units");
  if (!json_object_is_type(p_units, json_type_array)) return -1;
  size_t iCount = json_object_array_length(p_units);
  for (size_t i = 0; i < iCount; ++i) {
    json_object* p_unit = json_object_array_get_idx(p_units, i);
    if (!json_object_is_type(p_unit, json_type_object)) continue;
    int iSerialNumber =
        json_object_get_int(GetMember(p_unit, "serialNumber"));
    if (iSerialNumber == 0) continue;
    Engine*& pEngine = m_mapEngine[iSerialNumber];
    if (pEngine == nullptr) {
      pEngine = new Engine();
      pEngine->m_iSerialNumber = iSerialNumber;
    }
    MergeUnit(p_unit, pEngine, sUsername);
  }
  return 0;
}

void PollLoop::ClearEngines() {
  Engine* pCurrent = CurrentEngine();
  for (auto& entry : m_mapEngine) {
    if (entry.second != pCurrent) delete entry.second;
  }
  m_mapEngine.clear();
  if (pCurrent != nullptr) m_mapEngine[pCurrent->m_iSerialNumber] = pCurrent;
}

}  // namespace Veru
