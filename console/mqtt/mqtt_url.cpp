// The broker's URL (see mqtt_url.h).
#include "console/mqtt/mqtt_url.h"

namespace {

constexpr int kPlainPort = 1883;
constexpr int kTlsPort = 8883;

// "1" to "65535", digits only; 0 when it is not.
int PortNumber(const std::string& sText) {
  if (sText.empty() || sText.size() > 5) return 0;
  int iPort = 0;
  for (char c : sText) {
    if (c < '0' || c > '9') return 0;
    iPort = iPort * 10 + (c - '0');
  }
  return iPort <= 65535 ? iPort : 0;
}

bool Fail(std::string* pError, const char* sWhat) {
  *pError = sWhat;
  return false;
}

}  // namespace

std::string MqttUrl::HostPort() const {
  bool bV6 = m_sHost.find(':') != std::string::npos;
  return (bV6 ? "[" + m_sHost + "]" : m_sHost) + ":" + std::to_string(m_iPort);
}

bool ParseMqttUrl(const std::string& sText, MqttUrl* pUrl, std::string* pError) {
  MqttUrl _Url;
  std::string sRest;
  if (sText.compare(0, 7, "mqtt://") == 0) {
    sRest = sText.substr(7);
    _Url.m_iPort = kPlainPort;
  } else if (sText.compare(0, 8, "mqtts://") == 0) {
    sRest = sText.substr(8);
    _Url.m_bTls = true;
    _Url.m_iPort = kTlsPort;
  } else {
    return Fail(pError, "not an mqtt:// or mqtts:// URL");
  }
  if (!sRest.empty() && sRest.back() == '/') sRest.pop_back();
  for (char c : sRest) {
    if (c == '/' || c == '?' || c == '#' || static_cast<unsigned char>(c) <= ' ') {
      return Fail(pError, "a broker URL has no path, query or blank");
    }
  }
  size_t iAt = sRest.rfind('@');
  if (iAt != std::string::npos) {
    _Url.m_sUser = sRest.substr(0, iAt);
    sRest = sRest.substr(iAt + 1);
    if (_Url.m_sUser.empty()) return Fail(pError, "an empty user name");
    if (_Url.m_sUser.find(':') != std::string::npos) {
      return Fail(pError, "the password goes in VERU_MQTT_PASSWORD, not in "
                          "the URL");
    }
  }
  std::string sPort;
  if (!sRest.empty() && sRest[0] == '[') {
    size_t iClose = sRest.find(']');
    if (iClose == std::string::npos) return Fail(pError, "an unclosed [");
    _Url.m_sHost = sRest.substr(1, iClose - 1);
    std::string sAfter = sRest.substr(iClose + 1);
    if (!sAfter.empty() && sAfter[0] != ':') return Fail(pError, "text after ]");
    if (!sAfter.empty()) sPort = sAfter.substr(1);
    if (sAfter == ":") return Fail(pError, "an empty port");
  } else {
    size_t iColon = sRest.find(':');
    _Url.m_sHost = sRest.substr(0, iColon);
    if (iColon != std::string::npos) {
      sPort = sRest.substr(iColon + 1);
      if (sPort.empty()) return Fail(pError, "an empty port");
    }
  }
  if (_Url.m_sHost.empty()) return Fail(pError, "no host");
  if (!sPort.empty()) {
    _Url.m_iPort = PortNumber(sPort);
    if (_Url.m_iPort == 0) return Fail(pError, "a port that is not 1-65535");
  }
  *pUrl = _Url;
  return true;
}
