// Reading a JSON reply: the one way every reader in the engine parses a
// reply text and takes values out of it (status merge, locator, device
// actions, camera stream port).
//
// One rule for texts: a string member gives all its bytes, NUL bytes ("\u0000")
// included, and any other value gives its JSON text; JSON null has no text.
// A reader that copies a text therefore keeps every byte, and what prints or
// sends a text escapes or refuses what it cannot carry (terminal_text.h,
// requests.h).
//
// Threads: any; these functions touch no shared state. The values they give
// point into the parsed tree and live as long as it does.
#ifndef VERU_ENGINE_JSON_REPLY_H
#define VERU_ENGINE_JSON_REPLY_H

#include <json-c/json.h>

#include <string>
#include <string_view>

namespace Veru {

// Parses a reply text (NUL-terminated; the text ends at its first NUL
// byte). Returns the value, which the caller releases with json_object_put;
// null when the text is not JSON or is the JSON literal null. When pbJSON is
// not null it tells the two apart: true for any JSON text, null included.
json_object* ParseReply(const char* sText, bool* pbJSON = nullptr);

// The member under sKey, or null when it is absent, is JSON null, or
// p_json_object is not an object.
inline json_object* GetMember(json_object* p_json_object, const char* sKey) {
  json_object* pValue = nullptr;
  if (!json_object_object_get_ex(p_json_object, sKey, &pValue)) return nullptr;
  return pValue;
}

// The text of a value (see the rule above) into *pText; false, with *pText
// untouched, for JSON null (a null pointer in json-c).
// Inline: the merge reads every device variable through it.
inline bool GetText(json_object* pValue, std::string_view* pText) {
  if (pValue == nullptr) return false;
  const char* sText = json_object_get_string(pValue);
  if (sText == nullptr) return false;
  if (json_object_is_type(pValue, json_type_string)) {
    *pText = std::string_view(
        sText, static_cast<size_t>(json_object_get_string_len(pValue)));
  } else {
    *pText = std::string_view(sText);
  }
  return true;
}

// Replaces *pText with the text of pValue. False, with *pText as it was,
// for JSON null.
bool CopyText(json_object* pValue, std::string* pText);

// Replaces *pText with the text of the member under sKey. False, with *pText
// as it was, when the member has no text (absent or JSON null).
bool CopyMemberText(json_object* p_json_object, const char* sKey,
                    std::string* pText);

// Replaces *pInt with the integer reading (json_object_get_int) of the
// member under sKey. False, with *pInt as it was, when the member is absent
// or JSON null.
bool CopyMemberInt(json_object* p_json_object, const char* sKey, int* pInt);

}  // namespace Veru

#endif  // VERU_ENGINE_JSON_REPLY_H
