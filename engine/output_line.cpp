// Standard output's open line, for messages on standard error (see
// output_line.h).
#include "engine/output_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace Veru {

namespace {

// True while the last byte written to standard output was not a line end.
std::atomic<bool> g_bLineOpen{false};

// Descriptors 1 and 2 are the same terminal device.
bool SameTerminal() {
  if (!isatty(STDOUT_FILENO) || !isatty(STDERR_FILENO)) return false;
  struct stat _Out;
  struct stat _Err;
  if (fstat(STDOUT_FILENO, &_Out) != 0 || fstat(STDERR_FILENO, &_Err) != 0) {
    return false;
  }
  return _Out.st_rdev == _Err.st_rdev;
}

}  // namespace

void NoteStandardOutput(const char* sText, size_t iSize) {
  if (iSize > 0) g_bLineOpen = sText[iSize - 1] != '\n';
}

void BeginErrorLine() {
  if (!g_bLineOpen.exchange(false)) return;
  if (!SameTerminal()) return;
  fflush(stdout);
  fputc('\n', stderr);
}

}  // namespace Veru
