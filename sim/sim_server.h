// SimServer is a scripted HTTP or HTTPS server on a loopback address, built
// on cpp-httplib. It stands in for a controller unit (port 3480), a forward
// server (HTTPS on a high port) or a locator server in tests and in the
// simulator.
//
// Every GET is logged (the target exactly as received, and its decoded
// form) and answered by, in order: the next queued reply, the handler if one
// is set and it takes the request, or the default reply.
//
// Threads: the server answers on its own threads; every public operation may
// be called from any thread and takes the server's own lock.
#ifndef VERU_SIM_SIM_SERVER_H
#define VERU_SIM_SIM_SERVER_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace Sim {

struct Reply {
  int iStatus = 200;
  std::string sBody;
  int iDelayMs = 0;    // wait this long before answering
  bool bDrop = false;  // close the connection without a body
  std::string sContentType = "text/plain";
};

struct LoggedRequest {
  std::string sTarget;   // path and query exactly as received
  std::string sDecoded;  // the same with %XX sequences decoded
};

// Decodes %XX sequences (and nothing else).
std::string PercentDecode(const std::string& sText);

// Splits "host[:port]" (port 80 when there is none); false when the port is
// not a usable number.
bool SplitHostPort(const std::string& sHostPort, std::string* pHost,
                   int* pPort);

// Makes a self-signed certificate and its RSA key into sFolder ("cert.pem",
// "key.pem", both readable by their owner only), valid for two days for
// "localhost" and every address 127.0.0.1-254. The certificate is its own
// authority: a client that names cert.pem as its certificate authority
// accepts it. Returns false when it cannot be made or written.
bool MakeSelfSignedCertificate(const std::string& sFolder);

class SimServer {
 public:
  // Returns true to answer with *pReply; false passes to the default reply.
  using Handler =
      std::function<bool(const LoggedRequest& _Request, Reply* pReply)>;

  SimServer();
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Listens on sHost:iPort (iPort 0: any free port) and answers on a thread
  // of its own. HTTPS when both certificate files are given. False when the
  // address cannot be bound.
  bool Start(const std::string& sHost, int iPort,
             const std::string& sCertFile = "",
             const std::string& sKeyFile = "");
  // Stops listening and waits for the server thread; Start may follow.
  void Stop();
  int Port() const { return m_iPort; }  // after a successful Start

  void SetDefault(const Reply& _Reply);
  void Queue(const Reply& _Reply);
  void SetHandler(Handler fHandler);

  std::vector<LoggedRequest> Log();
  void ClearLog();
  // Waits up to iTimeoutMs for at least iCount logged requests.
  bool WaitForRequests(size_t iCount, int iTimeoutMs);

 private:
  Reply Answer(const LoggedRequest& _Request);
  void StopLocked();

  // Start and Stop may come from different threads (a control request
  // stopping a listener): m_LifeMutex orders them. Never held by Answer.
  std::mutex m_LifeMutex;
  std::unique_ptr<httplib::Server> m_pServer;
  std::thread m_Thread;
  int m_iPort = 0;

  std::mutex m_Mutex;
  std::condition_variable m_Logged;
  std::deque<Reply> m_dequeQueued;
  Reply m_Default;
  Handler m_fHandler;
  std::vector<LoggedRequest> m_vecLog;
};

}  // namespace Sim

#endif  // VERU_SIM_SIM_SERVER_H
