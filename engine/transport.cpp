#include "engine/transport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/requests.h"
#include "engine/terminal_text.h"

extern char** environ;

namespace Veru {

namespace {

// One number per fetch of the process, whichever thread fetches.
std::atomic<int> g_iTempFileCounter{0};

// wget's exit status when it refused a server's certificate.
constexpr int kCertificateRefused = 5;

// Set once the user was told that a certificate was refused.
std::atomic<bool> g_bToldCertificateRefused{false};

// How wget treats server certificates, from the environment at each fetch:
// not checked with VERU_INSECURE_TLS=1, else checked against the authority
// in the file VERU_CA_CERTIFICATE names, else against the system's own.
std::string CertificateOption() {
  if (CertificateCheckIsOff()) return "--no-check-certificate";
  const char* sCaFile = getenv("VERU_CA_CERTIFICATE");
  if (sCaFile != nullptr && sCaFile[0] != '\0')
    return std::string("--ca-certificate=") + sCaFile;
  return "--check-certificate";
}

// Makes sFilename a file only its owner may read or write, whatever the
// umask, so wget (which keeps an existing file's mode) never writes a
// secret into a file others can read. bFresh: the file must not exist yet.
bool CreatePrivateFile(const char* sFilename, bool bFresh) {
  int iFlags = O_WRONLY | O_CREAT | O_CLOEXEC | (bFresh ? O_EXCL : 0);
  int iFile = open(sFilename, iFlags, 0600);
  if (iFile < 0) return false;
  bool bOk = fchmod(iFile, 0600) == 0;
  return close(iFile) == 0 && bOk;
}

// Runs wget with an argument vector, found through PATH as a shell would
// find it, and waits for it. The URL goes to wget on its standard input
// (--input-file=-), so it never shows in the process table. Returns its
// exit status (128 + the signal number when a signal ended it, as a shell
// reports it), or -1 when it could not be started or waited for.
int RunFetcher(const std::string& sURL, int iTimeLimit,
               const char* sFilename) {
  std::string sCertificate = CertificateOption();
  std::string sTimeout = "--timeout=" + std::to_string(iTimeLimit);
  const char* argv[] = {"wget",
                        sCertificate.c_str(),
                        "--tries=1",
                        sTimeout.c_str(),
                        "-o",
                        "wget.log",
                        "-O",
                        sFilename,
                        "--input-file=-",
                        nullptr};
  // The whole line fits the pipe's buffer, so it is written before wget
  // starts and the write never waits on it. Both ends are closed on exec:
  // a wget started meanwhile by the other thread must not hold them.
  int iPipe[2];
  if (pipe2(iPipe, O_CLOEXEC) != 0) return -1;
  std::string sLine = sURL + "\n";
  bool bWritten =
      write(iPipe[1], sLine.data(), sLine.size()) ==
      static_cast<ssize_t>(sLine.size());
  close(iPipe[1]);
  if (!bWritten) {
    close(iPipe[0]);
    return -1;
  }
  posix_spawn_file_actions_t _Actions;
  posix_spawn_file_actions_init(&_Actions);
  posix_spawn_file_actions_adddup2(&_Actions, iPipe[0], 0);
  pid_t pid = 0;
  int iError = posix_spawnp(&pid, "wget", &_Actions, nullptr,
                            const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&_Actions);
  close(iPipe[0]);
  if (iError != 0) return -1;
  int iStatus = 0;
  while (waitpid(pid, &iStatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(iStatus)) return WEXITSTATUS(iStatus);
  if (WIFSIGNALED(iStatus)) return 128 + WTERMSIG(iStatus);
  return -1;
}

// The first refusal of a certificate is explained once, on standard error.
void NoteCertificateRefused() {
  if (g_bToldCertificateRefused.exchange(true)) return;
  fprintf(stderr,
          "The server's certificate could not be verified, so nothing was "
          "sent to it. If it is signed by a private certificate authority, "
          "name that authority's certificate file in VERU_CA_CERTIFICATE.\n");
}

// Reads the whole reply file into a new buffer and, only when that worked,
// puts it into the block (m_iSize and m_pData change together). False when
// the file cannot be read, is larger than kReplySizeLimit (one line on
// standard error says so) or the buffer cannot be had; the block is then
// left as it was.
bool ReadReplyFile(FILE* pFile, DataBlock* pDataBlock) {
  if (fseek(pFile, 0, SEEK_END) != 0) return false;
  long iLength = ftell(pFile);
  if (iLength > kReplySizeLimit) {
    fprintf(stderr,
            "veru-console: a reply of %ld bytes is refused (limit %ld)\n",
            iLength, kReplySizeLimit);
    return false;
  }
  if (iLength < 0 || fseek(pFile, 0, SEEK_SET) != 0) return false;
  char* pData = static_cast<char*>(malloc(static_cast<size_t>(iLength) + 1));
  if (pData == nullptr) return false;
  size_t iRead = fread(pData, 1, static_cast<size_t>(iLength), pFile);
  if (static_cast<long>(iRead) != iLength || ferror(pFile)) {
    free(pData);
    return false;
  }
  pData[iLength] = '\0';
  free(pDataBlock->m_pData);
  pDataBlock->m_pData = pData;
  pDataBlock->m_iSize = static_cast<int>(iLength);
  return true;
}

// Ends the "GET:" line of a fetch that produced no reply.
int Failed() {
  printf(" FAILED!\n");
  fflush(stdout);
  return -1;
}

}  // namespace

DataBlock::DataBlock(bool bOwnData)
    : m_iSize(0), m_pData(nullptr), m_bOwnData(bOwnData) {}

DataBlock::~DataBlock() {
  if (m_bOwnData) Release();
}

void DataBlock::Release() {
  free(m_pData);
  m_pData = nullptr;
}

int PeekTempFileNumber() { return g_iTempFileCounter.load(); }

bool CertificateCheckIsOff() {
  const char* sInsecure = getenv("VERU_INSECURE_TLS");
  return sInsecure != nullptr && strcmp(sInsecure, "1") == 0;
}

int FetchURL(std::string sURL, int iTimeLimit, DataBlock* pDataBlock) {
  // The URL goes to wget as one line: it must fit its 500-byte buffer and
  // cannot carry a NUL byte, which would silently cut it, nor a line end,
  // which would make a second URL of the rest.
  if (sURL.size() >= static_cast<size_t>(kUrlBufferSize) ||
      sURL.find_first_of(std::string("\0\n\r", 3)) != std::string::npos)
    return -1;
  int iNumber = g_iTempFileCounter.fetch_add(1);
  char sFilename[kFilenameBufferSize];
  int iLength = snprintf(sFilename, sizeof(sFilename), "wget.%d.tmp", iNumber);
  if (iLength < 0 || iLength >= static_cast<int>(sizeof(sFilename))) return -1;

  // The URL may hold an address a unit or a locator sent.
  printf("GET:%s", EscapeControlBytes(MaskPassword(sURL)).c_str());
  fflush(stdout);
  // A file left by an earlier run must never be read as this fetch's reply.
  // The log and the reply can hold passwords: both are made private before
  // wget opens them.
  if (remove(sFilename) != 0 && errno != ENOENT) return Failed();
  if (!CreatePrivateFile("wget.log", false) ||
      !CreatePrivateFile(sFilename, true)) {
    remove(sFilename);
    return Failed();
  }
  int iStatus = RunFetcher(sURL, iTimeLimit, sFilename);
  if (iStatus == -1) {
    remove(sFilename);
    return Failed();
  }
  if (iStatus == kCertificateRefused) NoteCertificateRefused();

  FILE* pFile = fopen(sFilename, "rbe");
  if (pFile == nullptr) return Failed();
  bool bRead = ReadReplyFile(pFile, pDataBlock);
  fclose(pFile);
  remove(sFilename);
  if (!bRead) return Failed();
  printf(" got: %ld bytes\n", static_cast<long>(pDataBlock->m_iSize));
  fflush(stdout);
  return iStatus;
}

}  // namespace Veru
