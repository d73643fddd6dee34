// MqttProbe is the test's own MQTT client (libmosquitto, in the test
// process): it subscribes to every topic of a broker and keeps what it
// receives, and publishes what a test sends to the bridge.
//
// Threads: libmosquitto's own loop thread (mosquitto_loop_start) receives;
//   every other operation from the test thread. Lock: m_Mutex guards what
//   was received.
// Ownership: owns its client; the destructor disconnects.
#ifndef VERU_TESTS_MQTT_PROBE_H
#define VERU_TESTS_MQTT_PROBE_H

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

class MqttProbe {
 public:
  struct Message {
    std::string sTopic;
    std::string sPayload;
    bool bRetained = false;
  };

  MqttProbe();
  ~MqttProbe();
  MqttProbe(const MqttProbe&) = delete;
  MqttProbe& operator=(const MqttProbe&) = delete;

  // Connects to 127.0.0.1:iPort (with a user and password, or TLS against
  // sCaFile, when given) and subscribes to sFilter. False when it cannot.
  bool Connect(int iPort, const std::string& sFilter = "#",
               const std::string& sUser = "", const std::string& sPassword = "",
               const std::string& sCaFile = "");
  bool Publish(const std::string& sTopic, const std::string& sPayload,
               bool bRetain = false);

  // The latest payload of a topic, and whether one came.
  bool Has(const std::string& sTopic);
  std::string Latest(const std::string& sTopic);
  // Every message so far, in order.
  std::vector<Message> Messages();
  // How many messages came on topics that begin with sPrefix.
  size_t CountWithPrefix(const std::string& sPrefix);
  // Waits until the latest payload of sTopic holds sPart.
  bool WaitFor(const std::string& sTopic, const std::string& sPart,
               int iTimeoutMs = 15000);
  // Waits until a message on sTopic holds every one of vecParts (any
  // message, not only the latest); gives that payload.
  bool WaitForMessage(const std::string& sTopic,
                      const std::vector<std::string>& vecParts,
                      std::string* pPayload = nullptr, int iTimeoutMs = 15000);

 private:
  static void OnMessage(mosquitto* pMosq, void* pThis,
                        const mosquitto_message* pMessage);

  mosquitto* m_pMosq = nullptr;
  std::mutex m_Mutex;
  std::vector<Message> m_vecMessages;             // guarded by m_Mutex
  std::map<std::string, std::string> m_mapLatest;  // guarded by m_Mutex
};

#endif  // VERU_TESTS_MQTT_PROBE_H
