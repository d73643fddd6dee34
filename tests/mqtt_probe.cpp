#include "tests/mqtt_probe.h"

#include <mosquitto.h>

#include <random>

#include "tests/test_util.h"

MqttProbe::MqttProbe() {
  mosquitto_lib_init();
  std::random_device _Random;
  std::string sId = "veru-test-probe-" + std::to_string(_Random());
  m_pMosq = mosquitto_new(sId.c_str(), true, this);
  if (m_pMosq != nullptr) {
    mosquitto_message_callback_set(m_pMosq, &MqttProbe::OnMessage);
  }
}

MqttProbe::~MqttProbe() {
  if (m_pMosq == nullptr) return;
  mosquitto_disconnect(m_pMosq);
  // Not forced: a cancelled loop thread would leave a lock held.
  mosquitto_loop_stop(m_pMosq, false);
  mosquitto_destroy(m_pMosq);
}

bool MqttProbe::Connect(int iPort, const std::string& sFilter,
                        const std::string& sUser, const std::string& sPassword,
                        const std::string& sCaFile) {
  if (m_pMosq == nullptr) return false;
  if (!sUser.empty()) {
    mosquitto_username_pw_set(m_pMosq, sUser.c_str(), sPassword.c_str());
  }
  if (!sCaFile.empty() &&
      mosquitto_tls_set(m_pMosq, sCaFile.c_str(), nullptr, nullptr, nullptr,
                        nullptr) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  if (mosquitto_connect(m_pMosq, "127.0.0.1", iPort, 30) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  if (mosquitto_subscribe(m_pMosq, nullptr, sFilter.c_str(), 1) !=
      MOSQ_ERR_SUCCESS) {
    return false;
  }
  return mosquitto_loop_start(m_pMosq) == MOSQ_ERR_SUCCESS;
}

bool MqttProbe::Publish(const std::string& sTopic, const std::string& sPayload,
                        bool bRetain) {
  return mosquitto_publish(m_pMosq, nullptr, sTopic.c_str(),
                           static_cast<int>(sPayload.size()), sPayload.data(), 1,
                           bRetain) == MOSQ_ERR_SUCCESS;
}

void MqttProbe::OnMessage(mosquitto* /*pMosq*/, void* pThis,
                          const mosquitto_message* pMessage) {
  MqttProbe* pProbe = static_cast<MqttProbe*>(pThis);
  Message _Message;
  _Message.sTopic = pMessage->topic;
  if (pMessage->payloadlen > 0) {
    _Message.sPayload.assign(static_cast<const char*>(pMessage->payload),
                             static_cast<size_t>(pMessage->payloadlen));
  }
  _Message.bRetained = pMessage->retain;
  std::lock_guard<std::mutex> _Lock(pProbe->m_Mutex);
  pProbe->m_mapLatest[_Message.sTopic] = _Message.sPayload;
  pProbe->m_vecMessages.push_back(std::move(_Message));
}

bool MqttProbe::Has(const std::string& sTopic) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_mapLatest.count(sTopic) != 0;
}

std::string MqttProbe::Latest(const std::string& sTopic) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  auto it = m_mapLatest.find(sTopic);
  return it == m_mapLatest.end() ? "" : it->second;
}

std::vector<MqttProbe::Message> MqttProbe::Messages() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_vecMessages;
}

size_t MqttProbe::CountWithPrefix(const std::string& sPrefix) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  size_t iCount = 0;
  for (const Message& _Message : m_vecMessages) {
    if (_Message.sTopic.compare(0, sPrefix.size(), sPrefix) == 0) ++iCount;
  }
  return iCount;
}

bool MqttProbe::WaitFor(const std::string& sTopic, const std::string& sPart,
                        int iTimeoutMs) {
  return WaitUntil(
      [&] {
        std::lock_guard<std::mutex> _Lock(m_Mutex);
        auto it = m_mapLatest.find(sTopic);
        return it != m_mapLatest.end() &&
               it->second.find(sPart) != std::string::npos;
      },
      iTimeoutMs);
}

bool MqttProbe::WaitForMessage(const std::string& sTopic,
                               const std::vector<std::string>& vecParts,
                               std::string* pPayload, int iTimeoutMs) {
  return WaitUntil(
      [&] {
        std::lock_guard<std::mutex> _Lock(m_Mutex);
        for (const Message& _Message : m_vecMessages) {
          if (_Message.sTopic != sTopic) continue;
          bool bAll = true;
          for (const std::string& sPart : vecParts) {
            if (_Message.sPayload.find(sPart) == std::string::npos) bAll = false;
          }
          if (!bAll) continue;
          if (pPayload != nullptr) *pPayload = _Message.sPayload;
          return true;
        }
        return false;
      },
      iTimeoutMs);
}
