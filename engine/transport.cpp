#include "engine/transport.h"

#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace Veru {

namespace {

// One number per fetch of the process, whichever thread fetches.
std::atomic<int> g_iTempFileCounter{0};

// Runs wget with an argument vector, found through PATH as a shell would
// find it, and waits for it. Returns its exit status, or -1 when it could not
// be started or did not exit normally.
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
  if (!WIFEXITED(iStatus)) return -1;
  return WEXITSTATUS(iStatus);
}

// Reads the whole reply file into the block. Returns false when it cannot be
// read (or the buffer cannot be had); the file is closed either way.
bool ReadReplyFile(FILE* pFile, DataBlock* pDataBlock) {
  if (fseek(pFile, 0, SEEK_END) != 0) return false;
  long iLength = ftell(pFile);
  if (iLength < 0 || iLength > 0x7ffffff0L || fseek(pFile, 0, SEEK_SET) != 0)
    return false;
  pDataBlock->m_iSize = static_cast<int>(iLength);
  printf(" got: %ld bytes\n", iLength);
  char* pData = static_cast<char*>(realloc(pDataBlock->m_pData, iLength + 1));
  if (pData == nullptr) return false;
  pDataBlock->m_pData = pData;
  size_t iRead = fread(pData, 1, static_cast<size_t>(iLength), pFile);
  pData[iRead] = '\0';
  return static_cast<long>(iRead) == iLength;
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
  if (sURL.size() >= static_cast<size_t>(kUrlBufferSize)) return -1;
  int iNumber = g_iTempFileCounter.fetch_add(1);
  char sFilename[kFilenameBufferSize];
  int iLength = snprintf(sFilename, sizeof(sFilename), "wget.%d.tmp", iNumber);
  if (iLength < 0 || iLength >= static_cast<int>(sizeof(sFilename))) return -1;

  // A file left by an earlier run must never be read as this fetch's reply.
  remove(sFilename);

  printf("GET:%s", sURL.c_str());
  fflush(stdout);
  int iStatus = RunFetcher(sURL, iTimeLimit, sFilename);

  FILE* pFile = fopen(sFilename, "rb");
  if (pFile == nullptr) {
    printf(" FAILED!\n");
    return -1;
  }
  bool bRead = ReadReplyFile(pFile, pDataBlock);
  fclose(pFile);
  remove(sFilename);
  if (!bRead) return -1;
  return iStatus;
}

}  // namespace Veru
