// A message from the broker read into a command line or a refusal (see
// mqtt_incoming.h).
#include "console/mqtt/mqtt_incoming.h"

#include "console/report/utf8_text.h"

namespace {

// How much of a refused payload the result shows.
constexpr size_t kShownBytes = 100;

// True for a C0 or C1 control character, DEL, and the Unicode line and
// paragraph separators: nothing a command line holds. sText is valid UTF-8.
bool HoldsControl(const std::string& sText) {
  for (size_t i = 0; i < sText.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(sText[i]);
    if (c < 0x20 || c == 0x7f) return true;
    unsigned char cNext =
        i + 1 < sText.size() ? static_cast<unsigned char>(sText[i + 1]) : 0;
    // U+0080-U+009F are C2 80 - C2 9F.
    if (c == 0xc2 && cNext >= 0x80 && cNext <= 0x9f) return true;
    // U+2028 and U+2029 are E2 80 A8 and E2 80 A9.
    if (c == 0xe2 && cNext == 0x80 && i + 2 < sText.size() &&
        (static_cast<unsigned char>(sText[i + 2]) == 0xa8 ||
         static_cast<unsigned char>(sText[i + 2]) == 0xa9)) {
      return true;
    }
  }
  return false;
}

MqttRequest Refused(const std::string& sTopic, const std::string& sLine,
                    const std::string& sWhy) {
  MqttRequest _Request;
  _Request.sTopic = sTopic;
  _Request.sLine = sLine.substr(0, kShownBytes);
  _Request.sRefusal = sWhy;
  return _Request;
}

}  // namespace

std::string PayloadProblem(const std::string& sPayload) {
  if (sPayload.size() > kMostPayloadBytes) {
    return "a payload longer than 1 KiB is not a command";
  }
  if (ValidUtf8(sPayload) != sPayload) return "a payload that is not UTF-8";
  if (sPayload.find_first_of("\r\n") != std::string::npos) {
    return "a payload with a line end is not one command";
  }
  if (HoldsControl(sPayload)) return "a payload with a control character";
  return "";
}

MqttRequest ReadMqttMessage(MqttTopics::Incoming eKind, const std::string& sID,
                            const std::string& sTopic,
                            const std::string& sPayload, bool bRetained) {
  using Incoming = MqttTopics::Incoming;
  if (eKind != Incoming::kDeviceSet && eKind != Incoming::kSceneSet &&
      eKind != Incoming::kCommand) {
    return Refused(sTopic, sPayload, "not a command topic");
  }
  if (bRetained) {
    return Refused(sTopic, sPayload, "a retained message is never obeyed");
  }
  std::string sProblem = PayloadProblem(sPayload);
  if (!sProblem.empty()) return Refused(sTopic, sPayload, sProblem);
  MqttRequest _Request;
  _Request.sTopic = sTopic;
  if (eKind == Incoming::kCommand) {
    _Request.sLine = sPayload;
    if (sPayload.find_first_not_of(' ') == std::string::npos) {
      _Request.sRefusal = "an empty command";
    }
    return _Request;
  }
  int iID = 0;
  if (!ReadIdNumber(sID, &iID)) {
    return Refused(sTopic, sPayload,
                   std::string(eKind == Incoming::kDeviceSet ? "not a device"
                                                             : "not a scene") +
                       " number: " + sID.substr(0, kShownBytes));
  }
  if (eKind == Incoming::kSceneSet) {
    _Request.sLine = "scene " + std::to_string(iID);
    return _Request;
  }
  _Request.sLine = std::to_string(iID) + " " + sPayload;
  _Request.bDeviceOnly = true;
  if (sPayload.find_first_not_of(' ') == std::string::npos) {
    _Request.sRefusal = "an empty command";
  }
  return _Request;
}
