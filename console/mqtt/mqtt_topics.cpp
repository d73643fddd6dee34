// The bridge's topics (see mqtt_topics.h).
#include "console/mqtt/mqtt_topics.h"

#include "console/report/utf8_text.h"

MqttTopics::MqttTopics(const std::string& sBase,
                       const std::string& sDiscoveryPrefix, int iSerialNumber)
    : m_sBase(sBase), m_sPrefix(sDiscoveryPrefix), m_iSerialNumber(iSerialNumber) {}

std::string MqttTopics::Device(int iID) const {
  return m_sBase + "/device/" + std::to_string(iID);
}

std::string MqttTopics::Scene(int iID) const {
  return m_sBase + "/scene/" + std::to_string(iID);
}

std::vector<std::string> MqttTopics::Subscriptions() const {
  std::vector<std::string> vecTopics = {m_sBase + "/device/+/set",
                                        m_sBase + "/scene/+/set", Command()};
  if (Discovery()) vecTopics.push_back(m_sPrefix + "/status");
  return vecTopics;
}

std::string MqttTopics::ObjectId(int iID, bool bScene) const {
  return "veru_" + std::to_string(m_iSerialNumber) + (bScene ? "_scene_" : "_") +
         std::to_string(iID);
}

std::string MqttTopics::DiscoveryConfig(const std::string& sComponent, int iID,
                                        bool bScene) const {
  return m_sPrefix + "/" + sComponent + "/" + ObjectId(iID, bScene) + "/config";
}

MqttTopics::Incoming MqttTopics::Read(const std::string& sTopic,
                                      std::string* pID) const {
  if (sTopic == Command()) return Incoming::kCommand;
  if (Discovery() && sTopic == m_sPrefix + "/status") {
    return Incoming::kDiscoveryStatus;
  }
  const std::string sSet = "/set";
  if (sTopic.size() <= m_sBase.size() + sSet.size() ||
      sTopic.compare(0, m_sBase.size() + 1, m_sBase + "/") != 0 ||
      sTopic.compare(sTopic.size() - sSet.size(), sSet.size(), sSet) != 0) {
    return Incoming::kOther;
  }
  std::string sMiddle = sTopic.substr(
      m_sBase.size() + 1, sTopic.size() - m_sBase.size() - 1 - sSet.size());
  for (const char* sKind : {"device/", "scene/"}) {
    std::string sPrefix = sKind;
    if (sMiddle.compare(0, sPrefix.size(), sPrefix) != 0) continue;
    std::string sID = sMiddle.substr(sPrefix.size());
    if (sID.find('/') != std::string::npos) return Incoming::kOther;
    *pID = sID;
    return sPrefix == "device/" ? Incoming::kDeviceSet : Incoming::kSceneSet;
  }
  return Incoming::kOther;
}

bool ReadIdNumber(const std::string& sText, int* pID) {
  if (sText.empty() || sText.size() > 10 || sText[0] == '0') return false;
  long long iValue = 0;
  for (char c : sText) {
    if (c < '0' || c > '9') return false;
    iValue = iValue * 10 + (c - '0');
  }
  if (iValue > 2147483647LL) return false;
  *pID = static_cast<int>(iValue);
  return true;
}

std::string TopicBaseProblem(const std::string& sBase) {
  if (sBase.empty()) return "an empty topic";
  if (sBase.front() == '/' || sBase.back() == '/') {
    return "a topic that begins or ends with /";
  }
  for (char c : sBase) {
    if (c == '+' || c == '#') return "a topic with a wildcard (+ or #)";
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return "a topic with a control character";
    }
  }
  if (ValidUtf8(sBase) != sBase) return "a topic that is not UTF-8";
  return "";
}
