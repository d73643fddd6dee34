// MqttClient is the bridge's one connection to the broker: a libmosquitto
// client driven by a thread of its own (mosquitto_loop), so that when to
// connect again, what to subscribe to and what to publish again are the
// program's decisions. It connects, and after a failure or a lost
// connection connects again with a pause of 1 s doubling to 60 s (back to
// 1 s once a connection has been made); on every connection it subscribes
// to the topics it was given and then calls fConnected, which publishes the
// states again. Its Last Will is set before each connection.
//
// Standard error (never standard output) says once per outage that the
// broker cannot be reached, and once per connection that it is connected.
// A broker that refuses the user name or password at the first connection
// is fatal (fFatal, with one line); a refusal later is reported and tried
// again at the longest pause.
//
// Nothing is queued while the broker is away: Publish drops what it is
// given then (the bridge keeps the latest state of each topic and publishes
// it again on the next connection).
//
// Threads: Publish and Connected from any thread; the callbacks run on the
//   client's thread (fMessage and fConnected inside libmosquitto's
//   callbacks: they may Publish, which queues, but must not block). Start
//   and Stop from the owner's thread. libmosquitto is told it runs in a
//   threaded program (mosquitto_threaded_set), so a Publish from another
//   thread queues the packet and wakes the loop, which writes it.
// Ownership: owns the libmosquitto client and its thread.
#ifndef VERU_CONSOLE_MQTT_MQTT_CLIENT_H
#define VERU_CONSOLE_MQTT_MQTT_CLIENT_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/mqtt/mqtt_url.h"

struct mosquitto;
struct mosquitto_message;

class MqttClient {
 public:
  struct Settings {
    MqttUrl m_Url;
    // VERU_MQTT_PASSWORD (empty: none); used only with a user name.
    std::string m_sPassword;
    // VERU_MQTT_CA_CERTIFICATE (empty: the system's authorities).
    std::string m_sCaFile;
    std::string m_sWillTopic;
    std::string m_sWillPayload;
    std::vector<std::string> m_vecSubscriptions;
  };
  using ConnectedFunction = std::function<void()>;
  using MessageFunction = std::function<void(
      const std::string& sTopic, const std::string& sPayload, bool bRetained)>;
  using FatalFunction = std::function<void(const std::string& sLine)>;

  MqttClient(Settings _Settings, ConnectedFunction fConnected,
             MessageFunction fMessage, FatalFunction fFatal);
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Makes the client (a client id of its own: "veru-console-PID-RANDOM")
  // and starts its thread. False, with *pError, when the settings cannot
  // be used (a CA file that cannot be read, ...): nothing runs then.
  bool Start(std::string* pError);
  // Publishes when connected; false (nothing kept) when not.
  bool Publish(const std::string& sTopic, const std::string& sPayload, int iQos,
               bool bRetain);
  bool Connected() const { return m_bConnected.load(); }
  // The end: when connected, publishes sLastPayload retained on sLastTopic
  // (QoS 1) and waits up to 2 s for the broker to take it, then disconnects
  // cleanly (so the Last Will is not sent) and ends the thread.
  void Stop(const std::string& sLastTopic, const std::string& sLastPayload);

 private:
  static void OnConnect(mosquitto* pMosq, void* pThis, int iCode);
  static void OnMessage(mosquitto* pMosq, void* pThis,
                        const mosquitto_message* pMessage);
  static void OnPublish(mosquitto* pMosq, void* pThis, int iMid);

  void Run();
  // One connection: from the connect to its loss (or the stop). True when
  // the broker took the connection.
  bool RunConnection();
  // Waits iSeconds or until Stop; false when stopping.
  bool Pause(int iSeconds);
  void TellUnreachable(const std::string& sWhy);
  void Finish();

  Settings m_Settings;
  ConnectedFunction m_fConnected;
  MessageFunction m_fMessage;
  FatalFunction m_fFatal;
  mosquitto* m_pMosq = nullptr;
  std::thread m_Thread;

  std::atomic<bool> m_bConnected{false};
  std::atomic<bool> m_bStopping{false};
  // Client thread only.
  bool m_bEverConnected = false;
  bool m_bToldUnreachable = false;
  int m_iConnack = -1;  // the broker's answer to the last connect; -1 none
  std::string m_sLastTopic;
  std::string m_sLastPayload;
  std::atomic<int> m_iLastMid{-1};
  std::atomic<bool> m_bLastTaken{false};

  std::mutex m_PauseMutex;
  std::condition_variable m_PauseWake;
};

#endif  // VERU_CONSOLE_MQTT_MQTT_CLIENT_H
