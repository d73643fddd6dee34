#include "engine/transport.h"

#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "engine/terminal_text.h"

extern char** environ;

namespace Veru {

namespace {

// One number per fetch of the process, whichever thread fetches.
std::atomic<int> g_iTempFileCounter{0};

// Runs wget with an argument vector, found through PATH as a shell would
// find it, and waits for it. Returns its exit status (128 + the signal
// number when a signal ended it, as a shell reports it), or -1 when it could
// not be started or waited for.
int RunFetcher(const std::string& sURL, int iTimeLimit,
               const char* sFilename) {
  std::string sTimeout = "--timeout=" + std::to_string(iTimeLimit);
  const char* argv[] = {"wget",
                        "--no-check-certificate",
                        "--tries=1",
                        sTimeout.c_str(),
                        "-o",
                        "wget.log",
                        "-O",
                        sFilename,
                        sURL.c_str(),
                        nullptr};
  pid_t pid = 0;
  int iError = posix_spawnp(&pid, "wget", nullptr, nullptr,
                            const_cast<char* const*>(argv), environ);
  if (iError != 0) return -1;
  int iStatus = 0;
  while (waitpid(pid, &iStatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(iStatus)) return WEXITSTATUS(iStatus);
  if (WIFSIGNALED(iStatus)) return 128 + WTERMSIG(iStatus);
  return -1;
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

int FetchURL(std::string sURL, int iTimeLimit, DataBlock* pDataBlock) {
  // The URL goes to wget as one argument: it must fit its 500-byte buffer
  // and cannot carry a NUL byte, which would silently cut it.
  if (sURL.size() >= static_cast<size_t>(kUrlBufferSize) ||
      sURL.find('\0') != std::string::npos)
    return -1;
  int iNumber = g_iTempFileCounter.fetch_add(1);
  char sFilename[kFilenameBufferSize];
  int iLength = snprintf(sFilename, sizeof(sFilename), "wget.%d.tmp", iNumber);
  if (iLength < 0 || iLength >= static_cast<int>(sizeof(sFilename))) return -1;

  // The URL may hold an address a unit or a locator sent.
  printf("GET:%s", EscapeControlBytes(sURL).c_str());
  fflush(stdout);
  // A file left by an earlier run must never be read as this fetch's reply.
  if (remove(sFilename) != 0 && errno != ENOENT) return Failed();
  int iStatus = RunFetcher(sURL, iTimeLimit, sFilename);
  if (iStatus == -1) {
    remove(sFilename);
    return Failed();
  }

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
