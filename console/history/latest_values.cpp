// A device's latest values to and from their JSON object.
#include "console/history/latest_values.h"

#include <json-c/json.h>

namespace {

// sText as a JSON string: the quote, the backslash and the control bytes
// escaped, every other byte as it is.
void AppendJsonString(const std::string& sText, std::string* pOut) {
  static const char kHex[] = "0123456789abcdef";
  pOut->push_back('"');
  for (char c : sText) {
    unsigned char cByte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      pOut->push_back('\\');
      pOut->push_back(c);
    } else if (cByte < 0x20) {
      pOut->append("\\u00");
      pOut->push_back(kHex[cByte >> 4]);
      pOut->push_back(kHex[cByte & 0xf]);
    } else {
      pOut->push_back(c);
    }
  }
  pOut->push_back('"');
}

}  // namespace

std::string LatestValuesText(
    const std::map<std::string, std::string>& mapValues) {
  std::string sText = "{";
  for (const auto& value : mapValues) {
    if (sText.size() > 1) sText.push_back(',');
    AppendJsonString(value.first, &sText);
    sText.push_back(':');
    AppendJsonString(value.second, &sText);
  }
  sText.push_back('}');
  return sText;
}

bool ReadLatestValues(const std::string& sText,
                      std::map<std::string, std::string>* pValues) {
  json_tokener* pTokener = json_tokener_new();
  json_object* p_json_object = json_tokener_parse_ex(
      pTokener, sText.c_str(), static_cast<int>(sText.size()));
  bool bRead = p_json_object != nullptr &&
               json_tokener_get_error(pTokener) == json_tokener_success &&
               json_object_is_type(p_json_object, json_type_object);
  if (bRead) {
    json_object_object_foreach(p_json_object, sName, p_json_value) {
      if (!json_object_is_type(p_json_value, json_type_string)) {
        bRead = false;
        break;
      }
      (*pValues)[sName] =
          std::string(json_object_get_string(p_json_value),
                      static_cast<size_t>(json_object_get_string_len(p_json_value)));
    }
  }
  json_object_put(p_json_object);
  json_tokener_free(pTokener);
  return bRead;
}
