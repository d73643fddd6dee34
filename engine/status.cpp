// Status polling and merging: one long-poll status request to the controller,
// and the merge of its reply (full or partial) into the home model.
//
// Replies come from a device on the network, so the merge takes nothing for
// granted: a reply that is not an object merges nothing, an array member that
// is not an array and an element that is not an object are skipped, and a
// JSON null where a text is expected leaves the text as it was. Everything
// else of the reply is kept.
#include <json-c/json.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "console/front_end.h"
#include "engine/json_reply.h"
#include "engine/poll_loop.h"
#include "engine/requests.h"
#include "engine/transport.h"

namespace Veru {

namespace {

// The start of the controller's reply to a refused user name or password.
constexpr char kRefusedCredentials[] = "Invalid user/pass";
constexpr size_t kRefusedCredentialsLength = sizeof(kRefusedCredentials) - 1;

template <class Record>
void DeleteRecords(std::map<int, Record*>* pMap) {
  for (auto& entry : *pMap) delete entry.second;
  pMap->clear();
}

// The record stored under iID, made with its initial values on first sight.
template <class Record>
Record* FindOrAdd(std::map<int, Record*>* pMap, int iID) {
  auto it = pMap->lower_bound(iID);
  if (it != pMap->end() && it->first == iID) return it->second;
  Record* pRecord = new Record(iID);
  pMap->emplace_hint(it, iID, pRecord);
  return pRecord;
}

// The id of one array element: 0 when the element is not an object or its
// "id" is missing, null or not a number, so the element is skipped.
int ElementID(json_object* pElement) {
  if (!json_object_is_type(pElement, json_type_object)) return 0;
  return json_object_get_int(GetMember(pElement, "id"));
}

// Walks an array member: each element with a non-zero id is merged into the
// record of that id (made on first sight) by fCopy(element, record). A value
// that is not an array merges nothing.
template <class Record, class Copy>
void MergeArray(json_object* pArray, std::map<int, Record*>* pMap, Copy fCopy) {
  if (!json_object_is_type(pArray, json_type_array)) return;
  size_t iCount = json_object_array_length(pArray);
  for (size_t i = 0; i < iCount; ++i) {
    json_object* pElement = json_object_array_get_idx(pArray, i);
    int iID = ElementID(pElement);
    if (iID == 0) continue;
    fCopy(pElement, FindOrAdd(pMap, iID));
  }
}

// One member of a device element, walked in order so that JSON null reaches
// the integer reading (0) of "room", "category" and "state". Variables are
// gathered into *pVariables, to be merged as one batch.
void CopyDeviceMember(const char* sKey, json_object* pValue, Device* pDevice,
                      std::vector<VariableMap::Update>* pVariables) {
  if (strcmp(sKey, "id") == 0) {
    // The key the record was found by.
  } else if (strcmp(sKey, "name") == 0) {
    CopyText(pValue, &pDevice->m_sName);
  } else if (strcmp(sKey, "comment") == 0) {
    CopyText(pValue, &pDevice->m_sComment);
  } else if (strcmp(sKey, "room") == 0) {
    pDevice->m_iRoom = json_object_get_int(pValue);
  } else if (strcmp(sKey, "category") == 0) {
    pDevice->m_iCategory = json_object_get_int(pValue);
  } else if (strcmp(sKey, "state") == 0) {
    pDevice->m_iState = json_object_get_int(pValue);
  } else {
    // A new variable with a null value is not added; an old one keeps its
    // value.
    std::string_view sValue;
    if (GetText(pValue, &sValue)) pVariables->push_back({sKey, sValue});
  }
}

// "fwd1" or "fwd2": stored on the current unit (none: skipped) and saved
// with the other settings when something else saves them. Lock held.
void CopyForwardServer(PollLoop* pPollLoop, json_object* pValue,
                       std::string Engine::*pField) {
  Engine* pEngine = pPollLoop->CurrentEngine();
  if (pEngine != nullptr) CopyText(pValue, &(pEngine->*pField));
}

// One of the engine status members, or a key that is ignored. Lock held.
void MergeEngineMember(PollLoop* pPollLoop, const char* sKey,
                       json_object* pValue) {
  if (strcmp(sKey, "loadtime") == 0) {
    pPollLoop->m_iLoadTime = json_object_get_int(pValue);
  } else if (strcmp(sKey, "dataversion") == 0) {
    pPollLoop->m_iDataVersion = json_object_get_int(pValue);
  } else if (strcmp(sKey, "state") == 0) {
    pPollLoop->m_iState = json_object_get_int(pValue);
  } else if (strcmp(sKey, "comment") == 0) {
    CopyText(pValue, &pPollLoop->m_sComment);
  } else if (strcmp(sKey, "zwave_heal") == 0) {
    pPollLoop->m_bZWaveHeal = json_object_get_int(pValue) != 0;
  } else if (strcmp(sKey, "version") == 0) {
    CopyText(pValue, &pPollLoop->m_sVersion);
  } else if (strcmp(sKey, "model") == 0) {
    CopyText(pValue, &pPollLoop->m_sModel);
  } else if (strcmp(sKey, "fwd1") == 0) {
    CopyForwardServer(pPollLoop, pValue, &Engine::m_sFwdMain);
  } else if (strcmp(sKey, "fwd2") == 0) {
    CopyForwardServer(pPollLoop, pValue, &Engine::m_sFwdBack);
  }
}

// Handles the reply's members in their order. Lock held. Returns the
// serial number the reply names, 0 when none.
int MergeReplyMembers(PollLoop* pPollLoop, json_object* p_json_object,
                      bool bFull) {
  int iSerialNumber = 0;
  struct json_object_iter iter;
  json_object_object_foreachC(p_json_object, iter) {
    const char* sKey = iter.key;
    json_object* pValue = iter.val;
    if (strcmp(sKey, "devices") == 0) {
      pPollLoop->ParseDevices(pValue, !bFull);
    } else if (strcmp(sKey, "scenes") == 0) {
      pPollLoop->ParseScenes(pValue, !bFull);
    } else if (strcmp(sKey, "rooms") == 0) {
      pPollLoop->ParseRooms(pValue);
    } else if (strcmp(sKey, "sections") == 0) {
      pPollLoop->ParseSections(pValue);
    } else if (strcmp(sKey, "categories") == 0) {
      pPollLoop->ParseCategories(pValue);
    } else if (strcmp(sKey, "serial_number") == 0) {
      iSerialNumber = json_object_get_int(pValue);
    } else {
      MergeEngineMember(pPollLoop, sKey, pValue);
    }
  }
  return iSerialNumber;
}

// Gives the current unit the serial number while it has none. Lock held.
// True when it was learnt now, so the settings are to be saved.
bool LearnSerialNumber(PollLoop* pPollLoop, int iSerialNumber) {
  if (iSerialNumber == 0) return false;
  Engine* pEngine = pPollLoop->CurrentEngine();
  if (pEngine == nullptr || pEngine->m_iSerialNumber != 0) return false;
  pEngine->m_iSerialNumber = iSerialNumber;
  return true;
}

// The one report of a merged reply. Lock not held.
void ReportStatus(PollLoop* pPollLoop, bool bFull, int iOldState) {
  if (bFull) {
    pPollLoop->m_pFrontEnd->OnFullData();
  } else if (pPollLoop->m_iState != iOldState) {
    pPollLoop->m_pFrontEnd->OnEngineState();
  } else {
    pPollLoop->m_pFrontEnd->OnPartial(pPollLoop->m_iDataVersion,
                                      pPollLoop->m_iLoadTime);
  }
}

}  // namespace

json_object* PollLoop::GetStatus() {
  std::string URL = FormatStatusPath(m_iLoadTime, m_iDataVersion,
                                     m_iMinimumDelay, m_iTimeout);
  DataBlock _DataBlock(true);
  json_object* p_json_object = nullptr;
  if (Request(URL, &_DataBlock, &p_json_object, 0) == -1 &&
      _DataBlock.m_pData != nullptr &&
      strncmp(_DataBlock.m_pData, kRefusedCredentials,
              kRefusedCredentialsLength) == 0) {
    MutexHolder _Lock(m_pMutex);
    Engine* pEngine = CurrentEngine();
    if (pEngine != nullptr) pEngine->m_bInvalidUserPass = true;
  }
  // Only an object is a status reply: any other JSON value is a failed poll.
  if (p_json_object != nullptr &&
      !json_object_is_type(p_json_object, json_type_object)) {
    json_object_put(p_json_object);
    return nullptr;
  }
  return p_json_object;
}

void PollLoop::ParseStatus(json_object* p_json_object) {
  if (p_json_object == nullptr) return;
  bool bFull = false;
  bool bSaveSettings = false;
  int iOldState = 0;
  {
    MutexHolder _Lock(m_pMutex);
    iOldState = m_iState;
    // Anything but an object is a reply with nothing in it.
    if (json_object_is_type(p_json_object, json_type_object)) {
      json_object* pFull = GetMember(p_json_object, "full");
      bFull = pFull != nullptr && json_object_get_int(pFull) != 0;
      if (bFull) ClearData();
      int iSerialNumber = MergeReplyMembers(this, p_json_object, bFull);
      bSaveSettings = LearnSerialNumber(this, iSerialNumber);
    }
  }
  if (bSaveSettings) m_pFrontEnd->SaveSettings(false);
  ReportStatus(this, bFull, iOldState);
  json_object_put(p_json_object);
}

void PollLoop::ClearData() {
  DeleteRecords(&m_mapDevice);
  DeleteRecords(&m_mapScene);
  DeleteRecords(&m_mapSection);
  DeleteRecords(&m_mapRoom);
  DeleteRecords(&m_mapCategory);
}

void PollLoop::ParseSections(json_object* p_json_object) {
  MergeArray(p_json_object, &m_mapSection,
             [](json_object* pElement, Section* pSection) {
               CopyMemberText(pElement, "name", &pSection->m_sName);
             });
}

void PollLoop::ParseRooms(json_object* p_json_object) {
  MergeArray(p_json_object, &m_mapRoom, [](json_object* pElement, Room* pRoom) {
    CopyMemberText(pElement, "name", &pRoom->m_sName);
    CopyMemberInt(pElement, "section", &pRoom->m_iSection);
  });
}

void PollLoop::ParseCategories(json_object* p_json_object) {
  MergeArray(p_json_object, &m_mapCategory,
             [](json_object* pElement, Category* pCategory) {
               CopyMemberText(pElement, "name", &pCategory->m_sName);
             });
}

void PollLoop::ParseScenes(json_object* p_json_object, bool bNotify) {
  MergeArray(p_json_object, &m_mapScene,
             [this, bNotify](json_object* pElement, Scene* pScene) {
               CopyMemberText(pElement, "name", &pScene->m_sName);
               json_object* pActive = GetMember(pElement, "active");
               if (pActive != nullptr) {
                 pScene->m_bActive = json_object_get_int(pActive) != 0;
               }
               CopyMemberInt(pElement, "room", &pScene->m_iRoom);
               CopyMemberText(pElement, "comment", &pScene->m_sComment);
               CopyMemberInt(pElement, "state", &pScene->m_iState);
               if (bNotify) m_pFrontEnd->OnScene(pScene);
             });
}

void PollLoop::ParseDevices(json_object* p_json_object, bool bNotify) {
  // One batch vector for every device of the reply, so its capacity is
  // reused.
  std::vector<VariableMap::Update> vecVariables;
  MergeArray(p_json_object, &m_mapDevice,
             [this, bNotify, &vecVariables](json_object* pElement,
                                            Device* pDevice) {
               vecVariables.clear();
               struct json_object_iter iter;
               json_object_object_foreachC(pElement, iter) {
                 CopyDeviceMember(iter.key, iter.val, pDevice, &vecVariables);
               }
               pDevice->m_mapVariables.Merge(&vecVariables);
               if (bNotify) m_pFrontEnd->OnDevice(pDevice);
             });
}

}  // namespace Veru
