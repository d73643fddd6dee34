#include "engine/json_reply.h"

#include <json-c/json.h>

namespace Veru {

json_object* ParseReply(const char* sText, bool* pbJSON) {
  json_tokener_error iError = json_tokener_success;
  json_object* p_json_object = json_tokener_parse_verbose(sText, &iError);
  if (pbJSON != nullptr) *pbJSON = iError == json_tokener_success;
  if (iError != json_tokener_success) {
    json_object_put(p_json_object);
    return nullptr;
  }
  return p_json_object;
}

bool CopyText(json_object* pValue, std::string* pText) {
  std::string_view sText;
  if (!GetText(pValue, &sText)) return false;
  pText->assign(sText);
  return true;
}

bool CopyMemberText(json_object* p_json_object, const char* sKey,
                    std::string* pText) {
  return CopyText(GetMember(p_json_object, sKey), pText);
}

bool CopyMemberInt(json_object* p_json_object, const char* sKey, int* pInt) {
  json_object* pValue = GetMember(p_json_object, sKey);
  if (pValue == nullptr) return false;
  *pInt = json_object_get_int(pValue);
  return true;
}

}  // namespace Veru
