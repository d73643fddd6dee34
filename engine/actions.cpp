// Device actions: one lu_action request to the current unit, and the
// controller's answer turned into done (0), a job number, or -1.
#include <json-c/json.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/json_reply.h"
#include "engine/poll_loop.h"
#include "engine/reply_readers.h"
#include "engine/requests.h"
#include "engine/transport.h"

namespace Veru {

namespace {

// The text the controller puts before an error message.
constexpr char kErrorMark[] = "ERROR:";
constexpr size_t kErrorMarkLength = sizeof(kErrorMark) - 1;
// What a forward server answers when it refuses the account's credentials.
constexpr char kRefused[] = "Invalid user/pass";
constexpr size_t kRefusedLength = sizeof(kRefused) - 1;

// The job number a "JobID" member holds: a JSON number, or a text that
// begins with a decimal number (as "%d" reads it); -1 for anything else
// (null, a word, a boolean, an object), which names no job.
int JobNumber(json_object* p_json_job) {
  if (json_object_is_type(p_json_job, json_type_int) ||
      json_object_is_type(p_json_job, json_type_double)) {
    return json_object_get_int(p_json_job);
  }
  if (!json_object_is_type(p_json_job, json_type_string)) return -1;
  const char* sJob = json_object_get_string(p_json_job);
  char* pEnd = nullptr;
  strtol(sJob, &pEnd, 10);
  if (pEnd == sJob) return -1;
  return json_object_get_int(p_json_job);
}

// Walks the responses (the members whose value is an object) in document
// order. The first one that holds "OK" with the text "OK" gives 0, the first
// one that holds "JobID" gives its job number (-1 when it names none); none
// gives -1.
int DecideAction(json_object* p_json_object) {
  json_object_object_foreach(p_json_object, sKey, p_json_response) {
    (void)sKey;
    if (!json_object_is_type(p_json_response, json_type_object)) continue;
    std::string_view sOk;
    if (GetText(GetMember(p_json_response, "OK"), &sOk) && sOk == "OK") {
      return 0;
    }
    json_object* p_json_job = nullptr;
    if (json_object_object_get_ex(p_json_response, "JobID", &p_json_job))
      return JobNumber(p_json_job);
  }
  return -1;
}

// Why an action's reply gave -1, when it is not the controller's "ERROR:"
// text (empty then: the message says it).
std::string ActionFailure(const DataBlock& _DataBlock,
                          json_object* p_json_object) {
  if (_DataBlock.m_pData == nullptr || _DataBlock.m_iSize == 0) {
    return "no answer from the unit";
  }
  std::string_view sReply(_DataBlock.m_pData,
                          static_cast<size_t>(_DataBlock.m_iSize));
  if (sReply.compare(0, kErrorMarkLength, kErrorMark) == 0) return "";
  if (sReply.compare(0, kRefusedLength, kRefused) == 0) {
    return "the user name or password was refused";
  }
  if (p_json_object == nullptr) return "the unit's answer could not be read";
  return "the unit's answer names neither done nor a job";
}

}  // namespace

int PollLoop::RunAction(int iDevice, std::string sServiceId,
                        std::string sAction, std::string sArguments,
                        int iRetryWindow, std::string& sMessage,
                        std::string* pReason) {
  return SendAction(FormatActionPath(iDevice, sServiceId, sAction, sArguments),
                    iRetryWindow, sMessage, pReason);
}

int PollLoop::RunScene(int iScene, int iRetryWindow, std::string& sMessage,
                       std::string* pReason) {
  return SendAction(FormatScenePath(iScene), iRetryWindow, sMessage, pReason);
}

int PollLoop::SendAction(const std::string& sURL, int iRetryWindow,
                         std::string& sMessage, std::string* pReason) {
  // Too long for its buffer: refused, nothing is sent.
  if (sURL.empty()) {
    if (pReason != nullptr) *pReason = "the request is too long to send";
    return -1;
  }

  CommandHolder _Command(this);
  DataBlock _DataBlock(true);
  json_object* p_json_object = nullptr;
  // What Request leaves in the block and the reply decides, not its result:
  // an "ERROR:" text is not JSON and so comes back as a failed request.
  Request(sURL, &_DataBlock, &p_json_object, iRetryWindow);
  int iResult = ReadActionReply(_DataBlock, p_json_object, sMessage);
  if (iResult == -1 && pReason != nullptr) {
    *pReason = ActionFailure(_DataBlock, p_json_object);
  }
  if (p_json_object != nullptr) json_object_put(p_json_object);
  return iResult;
}

int ReadActionReply(const DataBlock& _DataBlock, json_object* p_json_object,
                    std::string& sMessage) {
  if (_DataBlock.m_pData != nullptr &&
      static_cast<size_t>(_DataBlock.m_iSize) >= kErrorMarkLength &&
      strncmp(_DataBlock.m_pData, kErrorMark, kErrorMarkLength) == 0) {
    sMessage.assign(_DataBlock.m_pData + kErrorMarkLength,
                    _DataBlock.m_iSize - kErrorMarkLength);
    return -1;
  }
  if (p_json_object != nullptr &&
      json_object_is_type(p_json_object, json_type_object)) {
    return DecideAction(p_json_object);
  }
  return -1;
}

}  // namespace Veru
