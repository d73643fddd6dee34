// The request transport: one HTTP GET is one run of the external `wget`
// program, started with an argument vector (no shell) and given the URL on
// its standard input, writing the reply document into a temporary file
// "wget.N.tmp" in the working directory, which is read back whole into a
// DataBlock and then deleted. The reply file and wget's log "wget.log" are
// made readable by their owner only before wget writes to them: both can
// hold passwords.
//
// Server certificates: wget checks them against the system's authorities,
// or against the authority whose certificate file VERU_CA_CERTIFICATE names;
// VERU_INSECURE_TLS=1 turns the check off. The environment is read at every
// fetch.
//
// Threads: FetchURL may run on the console thread and the poll thread at the
// same time; each call takes its own temporary-file number from one atomic
// counter. A DataBlock is used by one thread only. The fetches in flight are
// kept in one registry under a lock of its own, held only for moments (never
// across a wget run), so StopFetches can end them from any thread.
#ifndef VERU_ENGINE_TRANSPORT_H
#define VERU_ENGINE_TRANSPORT_H

#include <string>

namespace Veru {

// The reply buffer of one request. m_pData (malloc family) holds m_iSize
// bytes followed by a NUL; it is null before the first fetch and after
// Release(). With m_bOwnData the block frees m_pData when destroyed.
class DataBlock {
 public:
  explicit DataBlock(bool bOwnData);
  ~DataBlock();
  DataBlock(const DataBlock&) = delete;
  DataBlock& operator=(const DataBlock&) = delete;

  // Frees the text; m_iSize keeps its value.
  void Release();

  int m_iSize;
  char* m_pData;
  bool m_bOwnData;
};

// Fixed sizes of the formatted texts. A text that does not fit (including
// its NUL) is refused, never truncated.
constexpr int kUrlBufferSize = 500;
constexpr int kFilenameBufferSize = 50;

// The fetcher's log, which wget rewrites at every fetch.
constexpr char kFetcherLog[] = "wget.log";

// Seconds wget may take for one request to a controller unit: room for the
// status long poll, which the unit may hold for its 60-second timeout.
constexpr int kRequestTimeLimit = 90;

// The largest reply read, in bytes: far above the 4 MB full reply of a
// 10,000-device home. A larger reply file is refused like an unreadable one
// (with one line on standard error), never read into memory.
constexpr long kReplySizeLimit = 64L * 1024 * 1024;

// Fetches sURL with `wget CERT --tries=1 --timeout=N -o wget.log
// -O wget.K.tmp --input-file=-` and sURL on wget's standard input, where
// CERT is "--check-certificate", "--ca-certificate=FILE" or
// "--no-check-certificate" (see above). Prints "GET:<sShownURL>" (the form
// of the URL the caller that built it lets the user see: the password
// masked, control bytes escaped here) and then " got: <n> bytes\n" or
// " FAILED!\n". A leftover wget.K.tmp is removed first and a new empty one
// made, mode 0600; the reply file is deleted after it was read. What the
// fetch has to tell on standard error comes after its line has ended: the
// first time wget refuses a certificate (exit status 5) one line says so,
// and so does one line for a reply refused as too large.
// Returns -1 when the URL is refused (499 characters at most, no NUL byte or
// line end; nothing is printed or run then), or, after " FAILED!\n", when
// the private files cannot be made, wget cannot be started or the reply
// file cannot be opened or read or is larger than kReplySizeLimit
// (*pDataBlock is then left as it was).
// Otherwise wget's exit status (0 is success; 128 + N when signal N ended
// it), with the reply in *pDataBlock (empty when wget wrote nothing).
// After StopFetches: -1 at once, nothing printed or run; a fetch in flight
// when it was called ends with " stopped\n" and -1 (the program is ending:
// no failure of the fetch).
int FetchURL(const std::string& sURL, const std::string& sShownURL,
             int iTimeLimit, DataBlock* pDataBlock);

// Whether the calling thread's fetches print their "GET:" lines: shown at
// first; Hide stops them (the notes on standard error stay), and the end of
// the scope shows them again. One per scope, on the fetching thread.
class FetchLinesOfThisThread {
 public:
  FetchLinesOfThisThread() = default;
  ~FetchLinesOfThisThread();
  FetchLinesOfThisThread(const FetchLinesOfThisThread&) = delete;
  FetchLinesOfThisThread& operator=(const FetchLinesOfThisThread&) = delete;
  void Hide();
  bool IsShown() const;
};

// The end of every fetch, for the end of the program: the wget of every
// fetch in flight is killed, no fetch starts any more, and when it returns
// (after a few tenths of a second at most) no reply file of a fetch is left.
// Any thread; the fetching threads need not be waited for.
void StopFetches();

// True once StopFetches was called.
bool FetchesStopped();

// The number the next FetchURL will use for its temporary file.
int PeekTempFileNumber();

// True when VERU_INSECURE_TLS=1 turns the certificate check off.
bool CertificateCheckIsOff();

}  // namespace Veru

#endif  // VERU_ENGINE_TRANSPORT_H
