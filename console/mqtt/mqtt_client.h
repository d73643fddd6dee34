// MqttClient is the bridge's one connection to the broker: a libmosquitto
// client driven by a thread of its own (a poll loop over the socket and a
// wake-up event, with mosquitto_loop_read/write/misc), so that when to
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
// is fatal (fFatal, with one line); a refusal later is reported once (until
// a connection is made again) and tried again at the longest pause.
//
// Nothing is queued while the broker is away: Publish drops what it is
// given then (the bridge keeps the latest state of each topic and publishes
// it again on the next connection).
//
// The pause before connecting again is the clock seam's (engine/clock.h).
//
// Threads: Publish and Connected from any thread; the callbacks run on the
//   client's thread (fMessage and fConnected inside libmosquitto's
//   callbacks: they may Publish, which queues, but must not block). Start
//   and Stop from the owner's thread. libmosquitto is told it runs in a
//   threaded program (mosquitto_threaded_set), so a Publish queues the
//   packet and wakes the loop (outside a batch), which writes it.
// Ownership: owns the libmosquitto client and its thread.
#ifndef VERU_CONSOLE_MQTT_MQTT_CLIENT_H
#define VERU_CONSOLE_MQTT_MQTT_CLIENT_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/mqtt/mqtt_url.h"

struct mosquitto;
struct mosquitto_message;

// How many messages Publish took, and how many of them were written to the
// socket (QoS 0) or acknowledged (QoS 1): what the benchmark reads. Any
// thread.
struct MqttCounts {
  std::atomic<long> m_iHanded{0};
  std::atomic<long> m_iWritten{0};
};

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
    // Counted into when not null; must outlive the client.
    MqttCounts* m_pCounts = nullptr;
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
  // A batch of Publish calls (a full reply, every state again): the
  // connection's thread is woken once per few hundred messages and at the
  // end rather than once per message, and the socket is corked until the
  // batch is written, so it goes out in full segments. Batches may nest
  // and come from several threads; a Publish outside any batch wakes the
  // thread at once.
  void BeginBatch();
  void EndBatch();
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
  // One turn of the loop: waits up to iWaitMs for the socket or a wake-up,
  // reads, writes what is queued, keeps the connection alive. A
  // libmosquitto result (MOSQ_ERR_SUCCESS while the connection lasts).
  int Turn(int iWaitMs);
  void Cork(int iSocket, bool bCork);
  void Wake();
  // Waits iSeconds (the clock seam's time) or until Stop; false when
  // stopping.
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
  bool m_bToldRefused = false;
  bool m_bCorked = false;
  int m_iConnack = -1;  // the broker's answer to the last connect; -1 none
  std::string m_sLastTopic;
  std::string m_sLastPayload;
  std::atomic<int> m_iLastMid{-1};
  std::atomic<bool> m_bLastTaken{false};

  // Written to wake the connection's thread (an eventfd).
  int m_iWakeFd = -1;
  std::mutex m_BatchMutex;
  int m_iBatches = 0;          // guarded by m_BatchMutex
  long m_iBatchMessages = 0;   // guarded by m_BatchMutex
};

#endif  // VERU_CONSOLE_MQTT_MQTT_CLIENT_H
