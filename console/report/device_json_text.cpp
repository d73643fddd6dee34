// A device's JSON object written directly (see device_json_text.h).
#include "console/report/device_json_text.h"

#include <string_view>

#include "console/report/json_objects.h"
#include "console/report/utf8_text.h"

namespace {

// A JSON string of sText (already valid UTF-8), escaped as json-c escapes.
void AppendString(std::string* pText, std::string_view sText) {
  static const char kHex[] = "0123456789abcdef";
  pText->push_back('"');
  size_t iPlain = 0;
  for (size_t i = 0; i < sText.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(sText[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    pText->append(sText.data() + iPlain, i - iPlain);
    iPlain = i + 1;
    switch (c) {
      case '"': pText->append("\\\""); break;
      case '\\': pText->append("\\\\"); break;
      case '\b': pText->append("\\b"); break;
      case '\n': pText->append("\\n"); break;
      case '\r': pText->append("\\r"); break;
      case '\t': pText->append("\\t"); break;
      case '\f': pText->append("\\f"); break;
      default: {
        char cEscape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
        pText->append(cEscape, sizeof(cEscape));
      }
    }
  }
  pText->append(sText.data() + iPlain, sText.size() - iPlain);
  pText->push_back('"');
}

bool Ascii(const std::string& sText) {
  for (char c : sText) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void AppendText(std::string* pText, const std::string& sText) {
  // ASCII is valid UTF-8 as it is.
  if (Ascii(sText)) {
    AppendString(pText, sText);
    return;
  }
  std::string sValid = ValidUtf8(sText);
  AppendString(pText, sValid);
}

void AppendMember(std::string* pText, const char* sKey, int64_t iValue) {
  pText->push_back('"');
  pText->append(sKey);
  pText->append("\":");
  pText->append(std::to_string(iValue));
  pText->push_back(',');
}

}  // namespace

std::string DeviceJsonText(const Veru::Device& _Device) {
  std::string sText;
  // The size without escapes: the bridge keeps the text, so no more.
  size_t iSize = 96 + _Device.m_sName.size() + _Device.m_sComment.size();
  for (const auto& variable : _Device.m_mapVariables) {
    iSize += variable.first.size() + variable.second.size() + 6;
  }
  sText.reserve(iSize);
  sText.append("{");
  AppendMember(&sText, "id", _Device.m_iID);
  sText.append("\"name\":");
  AppendText(&sText, _Device.m_sName);
  sText.push_back(',');
  AppendMember(&sText, "room", _Device.m_iRoom);
  AppendMember(&sText, "category", _Device.m_iCategory);
  AppendMember(&sText, "state", _Device.m_iState);
  sText.append("\"comment\":");
  AppendText(&sText, _Device.m_sComment);
  sText.append(",\"variables\":{");
  // The names are distinct as the map holds them; one that a NUL cut or
  // the repair of ill-formed UTF-8 changes could meet another, so such a
  // device goes through json-c.
  bool bFirst = true;
  for (const auto& variable : _Device.m_mapVariables) {
    const std::string& sName = variable.first;
    if (sName.find('\0') != std::string::npos ||
        (!Ascii(sName) && ValidUtf8(sName) != sName)) {
      return JsonText(NewDeviceObject(_Device));
    }
    if (!bFirst) sText.push_back(',');
    bFirst = false;
    AppendString(&sText, sName);
    sText.push_back(':');
    AppendText(&sText, variable.second);
  }
  sText.append("}}");
  return sText;
}
