#include "engine/transport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "engine/output_line.h"
#include "engine/terminal_text.h"

extern char** environ;

namespace Veru {

namespace {

// One number per fetch of the process, whichever thread fetches.
std::atomic<int> g_iTempFileCounter{0};

// The fetches in flight, for StopFetches: each one's wget (0 before it runs
// and once it has ended, so a process id is only ever signalled while its
// process is still there to be reaped) and its reply file, by the fetch's
// number. g_bStopped: StopFetches was called, no fetch starts any more.
struct FetchInFlight {
  pid_t iPid;
  std::string sFilename;
};
std::mutex g_FetchMutex;
std::condition_variable g_FetchEnded;
std::map<int, FetchInFlight> g_mapFetch;  // guarded by g_FetchMutex
bool g_bStopped = false;                  // guarded by g_FetchMutex

// How long StopFetches waits for the fetches it stopped to clean up after
// themselves before it removes their reply files itself.
constexpr int kStopWaitMs = 300;

// One fetch in the registry for as long as it lives. The destructor removes
// the reply file and takes the fetch out.
class FetchRecord {
 public:
  FetchRecord(int iNumber, const char* sFilename) : m_iNumber(iNumber) {
    std::lock_guard<std::mutex> _Lock(g_FetchMutex);
    m_bRefused = g_bStopped;
    if (!m_bRefused) g_mapFetch[m_iNumber] = {0, sFilename};
  }
  ~FetchRecord() {
    if (m_bRefused) return;
    std::lock_guard<std::mutex> _Lock(g_FetchMutex);
    remove(g_mapFetch[m_iNumber].sFilename.c_str());
    g_mapFetch.erase(m_iNumber);
    g_FetchEnded.notify_all();
  }
  FetchRecord(const FetchRecord&) = delete;
  FetchRecord& operator=(const FetchRecord&) = delete;

  // True when the fetches were stopped before this one began: nothing is
  // run then.
  bool Refused() const { return m_bRefused; }

 private:
  int m_iNumber;
  bool m_bRefused;
};

// The fetch's wget runs (iPid) or has ended (0). A wget that starts after
// the fetches were stopped is stopped at once.
void SetFetcherPid(int iNumber, pid_t iPid) {
  std::lock_guard<std::mutex> _Lock(g_FetchMutex);
  auto it = g_mapFetch.find(iNumber);
  if (it == g_mapFetch.end()) return;
  it->second.iPid = iPid;
  if (iPid > 0 && g_bStopped) kill(iPid, SIGKILL);
}

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
// The fetch is stopped when StopFetches kills its wget.
int RunFetcher(const std::string& sURL, int iTimeLimit, int iNumber,
               const char* sFilename) {
  std::string sCertificate = CertificateOption();
  std::string sTimeout = "--timeout=" + std::to_string(iTimeLimit);
  const char* argv[] = {"wget",
                        sCertificate.c_str(),
                        "--tries=1",
                        sTimeout.c_str(),
                        "-o",
                        kFetcherLog,
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
  // wget keeps standard input, output and error and nothing else: a
  // descriptor some part of the program opened without close-on-exec (the
  // history's database, the broker's socket) must not live on in a fetch.
  posix_spawn_file_actions_addclosefrom_np(&_Actions, 3);
  // wget starts with no signal blocked and every signal at its default
  // action, whatever this program blocks or ignores, so a signal (and
  // StopFetches) ends it.
  posix_spawnattr_t _Attributes;
  posix_spawnattr_init(&_Attributes);
  sigset_t _Signals;
  sigemptyset(&_Signals);
  posix_spawnattr_setsigmask(&_Attributes, &_Signals);
  sigfillset(&_Signals);
  sigdelset(&_Signals, SIGKILL);
  sigdelset(&_Signals, SIGSTOP);
  posix_spawnattr_setsigdefault(&_Attributes, &_Signals);
  posix_spawnattr_setflags(&_Attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int iError = posix_spawnp(&pid, "wget", &_Actions, &_Attributes,
                            const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&_Attributes);
  posix_spawn_file_actions_destroy(&_Actions);
  close(iPipe[0]);
  if (iError != 0) return -1;
  SetFetcherPid(iNumber, pid);
  // Waits for the end without reaping, so StopFetches never signals a
  // process id that was given to another process meanwhile; the wget leaves
  // the registry first and is reaped afterwards.
  siginfo_t _Info;
  while (waitid(P_PID, pid, &_Info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) break;
  }
  SetFetcherPid(iNumber, 0);
  int iStatus = 0;
  while (waitpid(pid, &iStatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(iStatus)) return WEXITSTATUS(iStatus);
  if (WIFSIGNALED(iStatus)) return 128 + WTERMSIG(iStatus);
  return -1;
}

// What a fetch has to tell on standard error. It is told once the fetch's
// "GET:" line has ended, so it never lands in the middle of that line.
struct FetchNotes {
  bool bCertificateRefused = false;
  long iRefusedSize = -1;  // the size of a reply refused as too large
};

// The first refusal of a certificate is explained once, on standard error.
void NoteCertificateRefused() {
  if (g_bToldCertificateRefused.exchange(true)) return;
  fprintf(stderr,
          "The server's certificate could not be verified, so nothing was "
          "sent to it. If it is signed by a private certificate authority, "
          "name that authority's certificate file in VERU_CA_CERTIFICATE.\n");
}

void TellNotes(const FetchNotes& _Notes) {
  if (_Notes.iRefusedSize >= 0 || _Notes.bCertificateRefused) BeginErrorLine();
  if (_Notes.iRefusedSize >= 0) {
    fprintf(stderr,
            "veru-console: a reply of %ld bytes is refused (limit %ld)\n",
            _Notes.iRefusedSize, kReplySizeLimit);
  }
  if (_Notes.bCertificateRefused) NoteCertificateRefused();
}

// Reads the whole reply file into a new buffer and, only when that worked,
// puts it into the block (m_iSize and m_pData change together). False when
// the file cannot be read, is larger than kReplySizeLimit (its size is then
// put into *pRefusedSize) or the buffer cannot be had; the block is then
// left as it was.
bool ReadReplyFile(FILE* pFile, DataBlock* pDataBlock, long* pRefusedSize) {
  if (fseek(pFile, 0, SEEK_END) != 0) return false;
  long iLength = ftell(pFile);
  if (iLength > kReplySizeLimit) {
    *pRefusedSize = iLength;
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

// False while the calling thread's "GET:" lines are hidden.
thread_local bool g_bFetchLinesShown = true;

// Prints a fetch's progress when the calling thread shows it.
void PrintProgress(const std::string& sText) {
  if (!g_bFetchLinesShown) return;
  fputs(sText.c_str(), stdout);
  fflush(stdout);
  NoteStandardOutput(sText.data(), sText.size());
}

// Ends the "GET:" line of a fetch that produced no reply, then tells its
// notes.
int Failed(const FetchNotes& _Notes = FetchNotes()) {
  PrintProgress(" FAILED!\n");
  TellNotes(_Notes);
  return -1;
}

// Ends the "GET:" line of a fetch that StopFetches ended.
int Stopped() {
  PrintProgress(" stopped\n");
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

FetchLinesOfThisThread::~FetchLinesOfThisThread() { g_bFetchLinesShown = true; }

void FetchLinesOfThisThread::Hide() { g_bFetchLinesShown = false; }

bool FetchLinesOfThisThread::IsShown() const { return g_bFetchLinesShown; }

void StopFetches() {
  std::unique_lock<std::mutex> _Lock(g_FetchMutex);
  g_bStopped = true;
  for (const auto& entry : g_mapFetch) {
    if (entry.second.iPid > 0) kill(entry.second.iPid, SIGKILL);
  }
  g_FetchEnded.wait_for(_Lock, std::chrono::milliseconds(kStopWaitMs),
                        [] { return g_mapFetch.empty(); });
  // A fetch that has not ended in time (its thread did not run) still has
  // its reply file removed.
  for (const auto& entry : g_mapFetch) remove(entry.second.sFilename.c_str());
}

bool FetchesStopped() {
  std::lock_guard<std::mutex> _Lock(g_FetchMutex);
  return g_bStopped;
}

bool CertificateCheckIsOff() {
  const char* sInsecure = getenv("VERU_INSECURE_TLS");
  return sInsecure != nullptr && strcmp(sInsecure, "1") == 0;
}

int FetchURL(const std::string& sURL, const std::string& sShownURL,
             int iTimeLimit, DataBlock* pDataBlock) {
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
  // From here on the reply file goes when the fetch ends, however it ends.
  FetchRecord _Record(iNumber, sFilename);
  if (_Record.Refused()) return -1;

  // The URL may hold an address a unit or a locator sent.
  PrintProgress("GET:" + EscapeControlBytes(sShownURL));
  // A file left by an earlier run must never be read as this fetch's reply.
  // The log and the reply can hold passwords: both are made private before
  // wget opens them.
  if (remove(sFilename) != 0 && errno != ENOENT) return Failed();
  if (!CreatePrivateFile(kFetcherLog, false) ||
      !CreatePrivateFile(sFilename, true)) {
    remove(sFilename);
    return Failed();
  }
  int iStatus = RunFetcher(sURL, iTimeLimit, iNumber, sFilename);
  // A stopped fetch brings no reply, whatever wget wrote before it ended;
  // the program is ending, which is no failure of the fetch.
  if (FetchesStopped()) {
    remove(sFilename);
    return Stopped();
  }
  if (iStatus == -1) {
    remove(sFilename);
    return Failed();
  }
  FetchNotes _Notes;
  _Notes.bCertificateRefused = iStatus == kCertificateRefused;

  FILE* pFile = fopen(sFilename, "rbe");
  if (pFile == nullptr) return Failed(_Notes);
  bool bRead = ReadReplyFile(pFile, pDataBlock, &_Notes.iRefusedSize);
  fclose(pFile);
  remove(sFilename);
  if (!bRead) return Failed(_Notes);
  PrintProgress(" got: " + std::to_string(pDataBlock->m_iSize) + " bytes\n");
  TellNotes(_Notes);
  return iStatus;
}

}  // namespace Veru
