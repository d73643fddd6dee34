// Standard output and error set aside into a pipe while the view runs.
#include "console/screen/screen_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace ScreenOutput {

namespace {

int g_iSavedOutput = -1;
int g_iSavedError = -1;
int g_iRead = -1;
std::string g_sPartial;  // the unfinished last line

}  // namespace

bool SetAside() {
  if (g_iRead >= 0) return true;
  int aPipe[2];
  if (pipe2(aPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  fflush(stdout);
  fflush(stderr);
  g_iSavedOutput = fcntl(1, F_DUPFD_CLOEXEC, 3);
  g_iSavedError = fcntl(2, F_DUPFD_CLOEXEC, 3);
  // A writer never blocks on a full pipe: the line is lost instead.
  dup2(aPipe[1], 1);
  dup2(aPipe[1], 2);
  close(aPipe[1]);
  g_iRead = aPipe[0];
  return true;
}

void Restore() {
  if (g_iRead < 0) return;
  fflush(stdout);
  fflush(stderr);
  if (g_iSavedOutput >= 0) dup2(g_iSavedOutput, 1);
  if (g_iSavedError >= 0) dup2(g_iSavedError, 2);
  close(g_iSavedOutput);
  close(g_iSavedError);
  close(g_iRead);
  g_iSavedOutput = g_iSavedError = g_iRead = -1;
  g_sPartial.clear();
}

int Fd() { return g_iRead; }

int OutputFd() { return g_iRead >= 0 && g_iSavedOutput >= 0 ? g_iSavedOutput : 1; }

namespace {

// Reads what is waiting and gives the whole lines worth showing, in order;
// the fetch progress ("GET:URL" and " got: N bytes", " FAILED!" or
// " stopped", which two threads' fetches may print into one line) is not.
std::vector<std::string> TakeLines() {
  std::vector<std::string> vecLines;
  char cBuffer[4096];
  ssize_t iRead;
  while (g_iRead >= 0 && (iRead = read(g_iRead, cBuffer, sizeof(cBuffer))) > 0) {
    g_sPartial.append(cBuffer, static_cast<size_t>(iRead));
  }
  size_t iStart = 0;
  size_t iEnd;
  while ((iEnd = g_sPartial.find('\n', iStart)) != std::string::npos) {
    std::string sLine = g_sPartial.substr(iStart, iEnd - iStart);
    iStart = iEnd + 1;
    if (sLine.empty() || sLine.find("GET:") != std::string::npos ||
        sLine.compare(0, 6, " got: ") == 0 || sLine == " FAILED!" ||
        sLine == " stopped") {
      continue;
    }
    vecLines.push_back(sLine);
  }
  g_sPartial.erase(0, iStart);
  if (g_sPartial.size() > 4096) g_sPartial.clear();
  return vecLines;
}

}  // namespace

std::string TakeLastLine() {
  std::vector<std::string> vecLines = TakeLines();
  return vecLines.empty() ? "" : vecLines.back();
}

std::string TakeWholeLines() {
  std::string sText;
  for (const std::string& sLine : TakeLines()) sText += sLine + "\n";
  return sText;
}

}  // namespace ScreenOutput
