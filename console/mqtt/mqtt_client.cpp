// The broker connection and its thread (see mqtt_client.h).
#include "console/mqtt/mqtt_client.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "engine/clock.h"

namespace {

constexpr int kKeepAliveS = 30;
constexpr int kFirstPauseS = 1;
constexpr int kLongestPauseS = 60;
// How long one turn of the loop waits for the socket; a Publish from
// another thread wakes it at once, so this only bounds how soon a stop is
// seen.
constexpr int kLoopWaitMs = 100;
// Inside a batch the loop is woken once per this many messages (and at the
// batch's end), so that it writes while the batch is still being made.
constexpr long kBatchWake = 256;
// How long a connection may take to be answered.
constexpr int kConnectAnswerMs = 10000;
// How long the last message may take to be acknowledged at the end.
constexpr int kLastMessageMs = 2000;

// MQTT 3.1.1 answers to a connect: 4 bad user name or password, 5 not
// authorised.
bool CredentialsRefused(int iCode) { return iCode == 4 || iCode == 5; }

void InitLibraryOnce() {
  static bool s_bDone = [] {
    mosquitto_lib_init();
    return true;
  }();
  (void)s_bDone;
}

std::string NewClientId() {
  std::random_device _Random;
  char cId[64];
  snprintf(cId, sizeof(cId), "veru-console-%d-%08x", static_cast<int>(getpid()),
           static_cast<unsigned>(_Random()));
  return cId;
}

std::string LibraryError(int iCode) {
  if (iCode == MOSQ_ERR_ERRNO) return strerror(errno);
  return mosquitto_strerror(iCode);
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

MqttClient::MqttClient(Settings _Settings, ConnectedFunction fConnected,
                       MessageFunction fMessage, FatalFunction fFatal)
    : m_Settings(std::move(_Settings)),
      m_fConnected(std::move(fConnected)),
      m_fMessage(std::move(fMessage)),
      m_fFatal(std::move(fFatal)) {}

MqttClient::~MqttClient() {
  if (m_Thread.joinable()) Stop("", "");
  if (m_pMosq != nullptr) mosquitto_destroy(m_pMosq);
  if (m_iWakeFd >= 0) close(m_iWakeFd);
}

bool MqttClient::Start(std::string* pError) {
  InitLibraryOnce();
  m_iWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_iWakeFd < 0) {
    *pError = std::string("cannot make an event file: ") + strerror(errno);
    return false;
  }
  m_pMosq = mosquitto_new(NewClientId().c_str(), true, this);
  if (m_pMosq == nullptr) {
    *pError = "cannot make an MQTT client";
    return false;
  }
  mosquitto_threaded_set(m_pMosq, true);
  mosquitto_int_option(m_pMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_int_option(m_pMosq, MOSQ_OPT_TCP_NODELAY, 1);
  // The latest state counts: a connection that is gone keeps nothing for
  // the next one beyond a few messages in flight.
  mosquitto_max_inflight_messages_set(m_pMosq, 0);
  mosquitto_connect_callback_set(m_pMosq, &MqttClient::OnConnect);
  mosquitto_message_callback_set(m_pMosq, &MqttClient::OnMessage);
  mosquitto_publish_callback_set(m_pMosq, &MqttClient::OnPublish);
  const MqttUrl& _Url = m_Settings.m_Url;
  if (!_Url.m_sUser.empty()) {
    const char* sPassword =
        m_Settings.m_sPassword.empty() ? nullptr : m_Settings.m_sPassword.c_str();
    if (mosquitto_username_pw_set(m_pMosq, _Url.m_sUser.c_str(), sPassword) !=
        MOSQ_ERR_SUCCESS) {
      *pError = "the MQTT user name cannot be used";
      return false;
    }
  }
  if (_Url.m_bTls) {
    int iCode = MOSQ_ERR_SUCCESS;
    if (!m_Settings.m_sCaFile.empty()) {
      if (access(m_Settings.m_sCaFile.c_str(), R_OK) != 0) {
        *pError = "VERU_MQTT_CA_CERTIFICATE: cannot read " + m_Settings.m_sCaFile;
        return false;
      }
      iCode = mosquitto_tls_set(m_pMosq, m_Settings.m_sCaFile.c_str(), nullptr,
                                nullptr, nullptr, nullptr);
    } else {
      iCode = mosquitto_int_option(m_pMosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    }
    if (iCode == MOSQ_ERR_SUCCESS) {
      // The broker's certificate is checked, its name included.
      iCode = mosquitto_tls_opts_set(m_pMosq, 1, nullptr, nullptr);
    }
    if (iCode != MOSQ_ERR_SUCCESS) {
      *pError = "TLS cannot be set up: " + LibraryError(iCode);
      return false;
    }
  }
  const std::string& sWill = m_Settings.m_sWillPayload;
  if (mosquitto_will_set(m_pMosq, m_Settings.m_sWillTopic.c_str(),
                         static_cast<int>(sWill.size()), sWill.data(), 1,
                         true) != MOSQ_ERR_SUCCESS) {
    *pError = "the Last Will cannot be set";
    return false;
  }
  m_Thread = std::thread([this] { Run(); });
  return true;
}

bool MqttClient::Publish(const std::string& sTopic, const std::string& sPayload,
                         int iQos, bool bRetain) {
  if (!m_bConnected) return false;
  if (mosquitto_publish(m_pMosq, nullptr, sTopic.c_str(),
                        static_cast<int>(sPayload.size()), sPayload.data(), iQos,
                        bRetain) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  if (m_Settings.m_pCounts != nullptr) ++m_Settings.m_pCounts->m_iHanded;
  long iInBatch = 0;
  {
    std::lock_guard<std::mutex> _Lock(m_BatchMutex);
    if (m_iBatches > 0) iInBatch = ++m_iBatchMessages;
  }
  if (iInBatch == 0 || iInBatch % kBatchWake == 0) Wake();
  return true;
}

void MqttClient::BeginBatch() {
  std::lock_guard<std::mutex> _Lock(m_BatchMutex);
  if (m_iBatches++ == 0) m_iBatchMessages = 0;
}

void MqttClient::EndBatch() {
  {
    std::lock_guard<std::mutex> _Lock(m_BatchMutex);
    if (m_iBatches > 0) --m_iBatches;
  }
  Wake();
}

void MqttClient::Wake() {
  uint64_t iOne = 1;
  // A full counter (never, in practice) wakes the loop just as well.
  if (write(m_iWakeFd, &iOne, sizeof(iOne)) < 0) return;
}

void MqttClient::Stop(const std::string& sLastTopic,
                      const std::string& sLastPayload) {
  if (!m_Thread.joinable()) return;
  m_sLastTopic = sLastTopic;
  m_sLastPayload = sLastPayload;
  m_bStopping = true;
  Wake();
  m_Thread.join();
}

void MqttClient::OnConnect(mosquitto* /*pMosq*/, void* pThis, int iCode) {
  MqttClient* pClient = static_cast<MqttClient*>(pThis);
  pClient->m_iConnack = iCode;
  if (iCode != 0) return;
  for (const std::string& sTopic : pClient->m_Settings.m_vecSubscriptions) {
    mosquitto_subscribe(pClient->m_pMosq, nullptr, sTopic.c_str(), 1);
  }
  pClient->m_bEverConnected = true;
  pClient->m_bToldUnreachable = false;
  pClient->m_bToldRefused = false;
  pClient->m_bConnected = true;
  fprintf(stderr, "veru-console: MQTT broker %s connected\n",
          pClient->m_Settings.m_Url.HostPort().c_str());
  if (pClient->m_fConnected) pClient->m_fConnected();
}

void MqttClient::OnMessage(mosquitto* /*pMosq*/, void* pThis,
                           const mosquitto_message* pMessage) {
  MqttClient* pClient = static_cast<MqttClient*>(pThis);
  if (!pClient->m_fMessage || pMessage->topic == nullptr) return;
  std::string sPayload;
  if (pMessage->payload != nullptr && pMessage->payloadlen > 0) {
    sPayload.assign(static_cast<const char*>(pMessage->payload),
                    static_cast<size_t>(pMessage->payloadlen));
  }
  pClient->m_fMessage(pMessage->topic, sPayload, pMessage->retain);
}

void MqttClient::OnPublish(mosquitto* /*pMosq*/, void* pThis, int iMid) {
  MqttClient* pClient = static_cast<MqttClient*>(pThis);
  if (pClient->m_Settings.m_pCounts != nullptr) {
    ++pClient->m_Settings.m_pCounts->m_iWritten;
  }
  if (iMid == pClient->m_iLastMid) pClient->m_bLastTaken = true;
}

void MqttClient::Run() {
  int iPauseS = kFirstPauseS;
  while (!m_bStopping) {
    if (RunConnection()) iPauseS = kFirstPauseS;
    if (m_bStopping) break;
    if (CredentialsRefused(m_iConnack)) {
      std::string sLine = "veru-console: the MQTT broker " +
                          m_Settings.m_Url.HostPort() +
                          " refused the user name or password (" +
                          mosquitto_connack_string(m_iConnack) + ")";
      if (!m_bEverConnected) {
        if (m_fFatal) m_fFatal(sLine);
        return;
      }
      // Once until the broker takes the connection again.
      if (!m_bToldRefused) {
        m_bToldRefused = true;
        fprintf(stderr, "%s; trying again every %d s\n", sLine.c_str(),
                kLongestPauseS);
      }
      iPauseS = kLongestPauseS;
    }
    if (!Pause(iPauseS)) break;
    iPauseS = iPauseS * 2 > kLongestPauseS ? kLongestPauseS : iPauseS * 2;
  }
  Finish();
}

bool MqttClient::RunConnection() {
  m_iConnack = -1;
  const MqttUrl& _Url = m_Settings.m_Url;
  int iCode = mosquitto_connect_async(m_pMosq, _Url.m_sHost.c_str(),
                                      _Url.m_iPort, kKeepAliveS);
  if (iCode != MOSQ_ERR_SUCCESS) {
    TellUnreachable(LibraryError(iCode));
    return false;
  }
  // Not handed to the program's children (wget): one that outlived a kill
  // would hold the connection open, and the broker would send the Last
  // Will only when it ended.
  int iSocket = mosquitto_socket(m_pMosq);
  if (iSocket >= 0) fcntl(iSocket, F_SETFD, fcntl(iSocket, F_GETFD) | FD_CLOEXEC);
  int64_t tAsked = NowMs();
  while (!m_bStopping) {
    iCode = Turn(kLoopWaitMs);
    if (iCode != MOSQ_ERR_SUCCESS) break;
    if (m_iConnack == -1 && NowMs() - tAsked > kConnectAnswerMs) {
      iCode = MOSQ_ERR_TIMEOUT;
      break;
    }
  }
  // Stopping: the connection stays for Finish's last message.
  if (m_bStopping) return m_bConnected;
  bool bWasConnected = m_bConnected.exchange(false);
  if (m_iConnack > 0) {
    if (!CredentialsRefused(m_iConnack)) {
      TellUnreachable(std::string("refused: ") +
                      mosquitto_connack_string(m_iConnack));
    }
  } else {
    TellUnreachable(bWasConnected ? "the connection was lost"
                                  : LibraryError(iCode));
  }
  mosquitto_disconnect(m_pMosq);
  m_bCorked = false;
  return bWasConnected;
}

int MqttClient::Turn(int iWaitMs) {
  int iSocket = mosquitto_socket(m_pMosq);
  if (iSocket < 0) return MOSQ_ERR_NO_CONN;
  bool bBatchOpen = false;
  {
    std::lock_guard<std::mutex> _Lock(m_BatchMutex);
    bBatchOpen = m_iBatches > 0;
  }
  // A batch goes out in full segments, not one per message.
  if (bBatchOpen && !m_bCorked) Cork(iSocket, true);
  pollfd vecPoll[2] = {{iSocket, POLLIN, 0}, {m_iWakeFd, POLLIN, 0}};
  if (mosquitto_want_write(m_pMosq)) vecPoll[0].events |= POLLOUT;
  if (poll(vecPoll, 2, iWaitMs) < 0 && errno != EINTR) {
    return MOSQ_ERR_ERRNO;
  }
  if (vecPoll[1].revents != 0) {
    uint64_t iCount = 0;
    if (read(m_iWakeFd, &iCount, sizeof(iCount)) < 0) iCount = 0;
  }
  int iCode = MOSQ_ERR_SUCCESS;
  if (vecPoll[0].revents != 0 && (vecPoll[0].revents & ~POLLOUT) != 0) {
    iCode = mosquitto_loop_read(m_pMosq, 1);
    if (iCode != MOSQ_ERR_SUCCESS) return iCode;
  }
  if (mosquitto_want_write(m_pMosq)) {
    iCode = mosquitto_loop_write(m_pMosq, 1);
    if (iCode != MOSQ_ERR_SUCCESS) return iCode;
  }
  if (m_bCorked && !bBatchOpen && !mosquitto_want_write(m_pMosq)) {
    Cork(iSocket, false);
  }
  return mosquitto_loop_misc(m_pMosq);
}

void MqttClient::Cork(int iSocket, bool bCork) {
  int iValue = bCork ? 1 : 0;
  setsockopt(iSocket, IPPROTO_TCP, TCP_CORK, &iValue, sizeof(iValue));
  m_bCorked = bCork;
}

bool MqttClient::Pause(int iSeconds) {
  return Veru::SleepUnless(iSeconds * 1000, m_bStopping);
}

void MqttClient::TellUnreachable(const std::string& sWhy) {
  if (m_bToldUnreachable) return;
  m_bToldUnreachable = true;
  fprintf(stderr,
          "veru-console: MQTT broker %s cannot be reached (%s); trying again\n",
          m_Settings.m_Url.HostPort().c_str(), sWhy.c_str());
}

void MqttClient::Finish() {
  if (!m_bConnected) return;
  if (!m_sLastTopic.empty()) {
    int iMid = 0;
    m_bLastTaken = false;
    // The mid is known only after the call; a quick acknowledgement is
    // matched once it is stored.
    if (mosquitto_publish(m_pMosq, &iMid, m_sLastTopic.c_str(),
                          static_cast<int>(m_sLastPayload.size()),
                          m_sLastPayload.data(), 1, true) == MOSQ_ERR_SUCCESS) {
      m_iLastMid = iMid;
      int64_t tEnd = NowMs() + kLastMessageMs;
      while (!m_bLastTaken && NowMs() < tEnd) {
        if (Turn(kLoopWaitMs) != MOSQ_ERR_SUCCESS) break;
      }
    }
  }
  m_bConnected = false;
  mosquitto_disconnect(m_pMosq);
  // The DISCONNECT packet goes out with the loop's next write.
  int64_t tEnd = NowMs() + kLastMessageMs;
  while (NowMs() < tEnd) {
    if (Turn(kLoopWaitMs) != MOSQ_ERR_SUCCESS) break;
  }
}
