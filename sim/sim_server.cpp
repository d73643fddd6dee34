#include "sim/sim_server.h"

#include <fcntl.h>
#include <httplib.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace Sim {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(const std::string& sText) {
  std::string sResult;
  for (size_t i = 0; i < sText.size(); ++i) {
    if (sText[i] == '%' && i + 2 < sText.size()) {
      int iHigh = HexValue(sText[i + 1]);
      int iLow = HexValue(sText[i + 2]);
      if (iHigh >= 0 && iLow >= 0) {
        sResult += static_cast<char>(iHigh * 16 + iLow);
        i += 2;
        continue;
      }
    }
    sResult += sText[i];
  }
  return sResult;
}

bool SplitHostPort(const std::string& sHostPort, std::string* pHost,
                   int* pPort) {
  size_t iColon = sHostPort.rfind(':');
  *pHost = sHostPort.substr(0, iColon);
  *pPort = iColon == std::string::npos ? 80 : atoi(sHostPort.c_str() + iColon + 1);
  return *pPort > 0;
}

namespace {

using KeyPointer = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertificatePointer = std::unique_ptr<X509, decltype(&X509_free)>;

// Adds one X.509 v3 extension, given as in a configuration file, to the
// self-signed pCertificate.
bool AddExtension(X509* pCertificate, int iNid, const std::string& sValue) {
  X509V3_CTX _Context;
  X509V3_set_ctx_nodb(&_Context);
  X509V3_set_ctx(&_Context, pCertificate, pCertificate, nullptr, nullptr, 0);
  X509_EXTENSION* pExtension =
      X509V3_EXT_conf_nid(nullptr, &_Context, iNid, sValue.c_str());
  if (pExtension == nullptr) return false;
  bool bAdded = X509_add_ext(pCertificate, pExtension, -1) == 1;
  X509_EXTENSION_free(pExtension);
  return bAdded;
}

// Writes a PEM file, readable by its owner only, with fWrite.
template <class Write>
bool WritePem(const std::string& sPath, Write fWrite) {
  int iFile = open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                   0600);
  if (iFile < 0) return false;
  FILE* pFile = fdopen(iFile, "w");
  if (pFile == nullptr) {
    close(iFile);
    return false;
  }
  bool bWritten = fWrite(pFile) == 1;
  return fclose(pFile) == 0 && bWritten;
}

}  // namespace

bool MakeSelfSignedCertificate(const std::string& sFolder) {
  KeyPointer pKey(EVP_RSA_gen(2048), &EVP_PKEY_free);
  CertificatePointer pCertificate(X509_new(), &X509_free);
  if (!pKey || !pCertificate) return false;
  X509* pCert = pCertificate.get();
  unsigned char cSerial[8];
  if (RAND_bytes(cSerial, sizeof(cSerial)) != 1) return false;
  cSerial[0] &= 0x7f;  // a positive serial number
  BIGNUM* pSerial = BN_bin2bn(cSerial, sizeof(cSerial), nullptr);
  bool bSerial = pSerial != nullptr &&
                 BN_to_ASN1_INTEGER(pSerial, X509_get_serialNumber(pCert)) !=
                     nullptr;
  BN_free(pSerial);
  X509_NAME* pName = X509_get_subject_name(pCert);
  if (!bSerial || X509_set_version(pCert, 2) != 1 ||
      X509_gmtime_adj(X509_getm_notBefore(pCert), 0) == nullptr ||
      X509_gmtime_adj(X509_getm_notAfter(pCert), 2L * 24 * 3600) == nullptr ||
      X509_set_pubkey(pCert, pKey.get()) != 1 ||
      X509_NAME_add_entry_by_txt(
          pName, "CN", MBSTRING_ASC,
          reinterpret_cast<const unsigned char*>("veru-sim"), -1, -1, 0) != 1 ||
      X509_set_issuer_name(pCert, pName) != 1) {
    return false;
  }
  // Its own authority, valid for every loopback address 127.0.0.1-254 by
  // name, so a client that checks the host against the certificate accepts
  // each server of ours.
  std::string sNames = "DNS:localhost";
  for (int i = 1; i <= 254; ++i) sNames += ",IP:127.0.0." + std::to_string(i);
  if (!AddExtension(pCert, NID_basic_constraints, "critical,CA:TRUE") ||
      !AddExtension(pCert, NID_subject_key_identifier, "hash") ||
      !AddExtension(pCert, NID_authority_key_identifier, "keyid:always") ||
      !AddExtension(pCert, NID_subject_alt_name, sNames) ||
      X509_sign(pCert, pKey.get(), EVP_sha256()) == 0) {
    return false;
  }
  return WritePem(sFolder + "/key.pem",
                  [&](FILE* pFile) {
                    return PEM_write_PrivateKey(pFile, pKey.get(), nullptr,
                                                nullptr, 0, nullptr, nullptr);
                  }) &&
         WritePem(sFolder + "/cert.pem",
                  [&](FILE* pFile) { return PEM_write_X509(pFile, pCert); });
}

SimServer::SimServer() = default;

SimServer::~SimServer() { Stop(); }

bool SimServer::Start(const std::string& sHost, int iPort,
                      const std::string& sCertFile,
                      const std::string& sKeyFile) {
  std::lock_guard<std::mutex> _Life(m_LifeMutex);
  StopLocked();
  if (!sCertFile.empty() && !sKeyFile.empty()) {
    m_pServer.reset(new httplib::SSLServer(sCertFile.c_str(), sKeyFile.c_str()));
  } else {
    m_pServer.reset(new httplib::Server());
  }
  if (!m_pServer->is_valid()) return false;
  m_pServer->set_keep_alive_max_count(1);
  // Address reuse only: a second server on the same address must fail to
  // bind, not share the connections silently (the library's default also
  // sets SO_REUSEPORT).
  m_pServer->set_socket_options([](int iSocket) {
    int iYes = 1;
    setsockopt(iSocket, SOL_SOCKET, SO_REUSEADDR, &iYes, sizeof(iYes));
  });
  m_pServer->Get(".*", [this](const httplib::Request& req,
                              httplib::Response& res) {
    LoggedRequest _Request;
    _Request.sTarget = req.target;
    _Request.sDecoded = PercentDecode(req.target);
    Reply _Reply = Answer(_Request);
    if (_Reply.iDelayMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(_Reply.iDelayMs));
    }
    res.status = _Reply.iStatus;
    if (_Reply.bDrop) {
      // A length is promised and nothing is sent: the connection closes
      // with the reply unfinished.
      res.set_content_provider(
          16, "text/plain",
          [](size_t, size_t, httplib::DataSink&) { return false; });
      return;
    }
    res.set_content(_Reply.sBody, _Reply.sContentType);
  });
  if (iPort == 0) {
    m_iPort = m_pServer->bind_to_any_port(sHost);
    if (m_iPort <= 0) return false;
  } else {
    if (!m_pServer->bind_to_port(sHost, iPort)) return false;
    m_iPort = iPort;
  }
  httplib::Server* pServer = m_pServer.get();
  m_Thread = std::thread([pServer] { pServer->listen_after_bind(); });
  // A stop() that comes before the listen loop runs is lost and the loop
  // then never ends: return only once it runs.
  for (int i = 0; i < 5000 && !pServer->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void SimServer::Stop() {
  std::lock_guard<std::mutex> _Life(m_LifeMutex);
  StopLocked();
}

void SimServer::StopLocked() {
  if (m_pServer) m_pServer->stop();
  if (m_Thread.joinable()) m_Thread.join();
  m_pServer.reset();
}

void SimServer::SetDefault(const Reply& _Reply) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_Default = _Reply;
}

void SimServer::Queue(const Reply& _Reply) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_dequeQueued.push_back(_Reply);
}

void SimServer::SetHandler(Handler fHandler) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_fHandler = std::move(fHandler);
}

std::vector<LoggedRequest> SimServer::Log() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_vecLog;
}

void SimServer::ClearLog() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_vecLog.clear();
}

bool SimServer::WaitForRequests(size_t iCount, int iTimeoutMs) {
  std::unique_lock<std::mutex> _Lock(m_Mutex);
  return m_Logged.wait_for(_Lock, std::chrono::milliseconds(iTimeoutMs),
                           [&] { return m_vecLog.size() >= iCount; });
}

Reply SimServer::Answer(const LoggedRequest& _Request) {
  Handler fHandler;
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_vecLog.push_back(_Request);
    m_Logged.notify_all();
    if (!m_dequeQueued.empty()) {
      Reply _Reply = m_dequeQueued.front();
      m_dequeQueued.pop_front();
      return _Reply;
    }
    fHandler = m_fHandler;
  }
  Reply _Reply;
  if (fHandler && fHandler(_Request, &_Reply)) return _Reply;
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_Default;
}

}  // namespace Sim
