#include "engine/requests.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "engine/transport.h"
#include "engine/url_escape.h"

namespace Veru {

namespace {

// printf into a 500-byte buffer; an empty text when the result does not fit.
std::string FormatBounded(const char* sFormat, ...)
    __attribute__((format(printf, 1, 2)));

std::string FormatBounded(const char* sFormat, ...) {
  char cBuffer[kUrlBufferSize];
  va_list args;
  va_start(args, sFormat);
  int iLength = vsnprintf(cBuffer, sizeof(cBuffer), sFormat, args);
  va_end(args);
  if (iLength < 0 || iLength >= static_cast<int>(sizeof(cBuffer))) return "";
  return std::string(cBuffer, iLength);
}

// A NUL byte would cut the text at "%s" without a trace, so a text holding
// one is refused like an overlong one.
bool HasNul(const std::string& sText) {
  return sText.find('\0') != std::string::npos;
}

// A forward-server host must end where the path begins.
bool IsForwardHost(const std::string& sHost) {
  return !HasNul(sHost) && sHost.find('/') == std::string::npos;
}

}  // namespace

std::string FormatLocalBaseURL(const std::string& sIp) {
  if (HasNul(sIp)) return "";
  return FormatBounded("http://%s:3480/", sIp.c_str());
}

std::string FormatRemoteBaseURL(const std::string& sFwdActive,
                                const std::string& sUsername,
                                const std::string& sPassword,
                                int iSerialNumber) {
  if (!IsForwardHost(sFwdActive) || HasNul(sUsername) || HasNul(sPassword))
    return "";
  return FormatBounded("https://%s/%s/%s/%d/", sFwdActive.c_str(),
                       EscapeURLComponent(sUsername).c_str(),
                       EscapeURLComponent(sPassword).c_str(), iSerialNumber);
}

std::string FormatStatusPath(int iLoadTime, int iDataVersion,
                             int iMinimumDelay, int iTimeout) {
  return FormatBounded(
      "data_request?id=lu_sdata&loadtime=%d&dataversion=%d&minimumdelay=%d"
      "&timeout=%d",
      iLoadTime, iDataVersion, iMinimumDelay, iTimeout);
}

std::string FormatActionPath(int iDevice, const std::string& sServiceId,
                             const std::string& sAction,
                             const std::string& sArguments) {
  if (HasNul(sServiceId) || HasNul(sAction) || HasNul(sArguments)) return "";
  if (sArguments.empty()) {
    return FormatBounded(
        "data_request?id=lu_action&DeviceNum=%d&serviceId=%s&action=%s"
        "&output_format=json",
        iDevice, sServiceId.c_str(), sAction.c_str());
  }
  return FormatBounded(
      "data_request?id=lu_action&DeviceNum=%d&serviceId=%s&action=%s"
      "&output_format=json&%s",
      iDevice, sServiceId.c_str(), sAction.c_str(), sArguments.c_str());
}

std::string FormatScenePath(int iScene) {
  return FormatBounded(
      "data_request?id=lu_action&serviceId=urn:lumenhollow-com:serviceId:"
      "HomeAutomationGateway1&action=RunScene&SceneNum=%d&output_format=json",
      iScene);
}

std::string FormatCameraImagePath(int iDevice, int64_t tNow) {
  return FormatBounded("data_request?id=cam_image&Device_Num=%d&time=%d",
                       iDevice, static_cast<int32_t>(tNow));
}

std::string FormatCameraPortURL(const std::string& sFwdActive,
                                const std::string& sUsername,
                                const std::string& sPassword,
                                int iSerialNumber, int iDevice) {
  std::string sBase =
      FormatRemoteBaseURL(sFwdActive, sUsername, sPassword, iSerialNumber);
  if (sBase.empty()) return "";
  return FormatBounded("%sdata_request?id=lu_camera_port&DeviceNum=%d",
                       sBase.c_str(), iDevice);
}

std::string FormatLocatorURL(const std::string& sHost,
                             const std::string& sUsername) {
  if (HasNul(sHost) || HasNul(sUsername)) return "";
  if (sUsername.empty()) {
    return FormatBounded("http://%s/locator_json.php", sHost.c_str());
  }
  return FormatBounded("http://%s/locator_json.php?username=%s", sHost.c_str(),
                       EscapeURLComponent(sUsername).c_str());
}

std::string MaskPassword(const std::string& sURL) {
  static const char kScheme[] = "https://";
  if (sURL.compare(0, sizeof(kScheme) - 1, kScheme) != 0) return sURL;
  // "https://FWD/USER/PASS/...": the password runs from the slash after
  // USER to the next slash (or the end).
  size_t iHostEnd = sURL.find('/', sizeof(kScheme) - 1);
  if (iHostEnd == std::string::npos) return sURL;
  size_t iStart = sURL.find('/', iHostEnd + 1);
  if (iStart == std::string::npos) return sURL;
  ++iStart;
  size_t iEnd = sURL.find('/', iStart);
  if (iEnd == std::string::npos) iEnd = sURL.size();
  return sURL.substr(0, iStart) + "***" + sURL.substr(iEnd);
}

std::string MaskPasswords(const std::string& sText) {
  static const char kScheme[] = "https://";
  std::string sMasked;
  size_t iDone = 0;
  for (;;) {
    size_t iStart = sText.find(kScheme, iDone);
    if (iStart == std::string::npos) break;
    size_t iEnd = sText.find_first_of(" \t\r\n\"'<>", iStart);
    if (iEnd == std::string::npos) iEnd = sText.size();
    sMasked.append(sText, iDone, iStart - iDone);
    sMasked += MaskPassword(sText.substr(iStart, iEnd - iStart));
    iDone = iEnd;
  }
  sMasked.append(sText, iDone, std::string::npos);
  return sMasked;
}

}  // namespace Veru
