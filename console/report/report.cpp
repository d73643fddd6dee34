// What every report form shares: the command result's verdict, the setting
// aside of standard output, and the wording of a span of time.
#include "console/report/report.h"

#include <fcntl.h>
#include <unistd.h>

bool CommandResult::Succeeded() const {
  switch (iKind) {
    case Kind::kAction:
      return iResult >= 0;
    case Kind::kImage:
    case Kind::kStream:
      return !sURL.empty();
    case Kind::kNothing:
      break;
  }
  return false;
}

ControllerText SplitControllerText(const std::string& sMessage) {
  ControllerText _Text;
  size_t iEnd = sMessage.size();
  while (iEnd > 0 && (sMessage[iEnd - 1] == '\n' || sMessage[iEnd - 1] == '\r')) {
    if (sMessage[iEnd - 1] == '\n') ++_Text.iLineEnds;
    --iEnd;
  }
  size_t iStart = 0;
  while (iStart < iEnd && sMessage[iStart] == ' ') ++iStart;
  _Text.sLeading = sMessage.substr(0, iStart);
  _Text.sWords = sMessage.substr(iStart, iEnd - iStart);
  return _Text;
}

FILE* SetStandardOutputAside() {
  fflush(stdout);
  // Not inherited by the fetcher, so the stream ends when the program does.
  int iReport = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (iReport < 0) return nullptr;
  FILE* pReport = fdopen(iReport, "w");
  if (pReport == nullptr) {
    close(iReport);
    return nullptr;
  }
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    fclose(pReport);
    return nullptr;
  }
  setvbuf(pReport, nullptr, _IOLBF, 0);
  return pReport;
}

std::string FormatSpan(int64_t tSeconds) {
  if (tSeconds < 0) tSeconds = 0;
  int64_t iHours = tSeconds / 3600;
  int64_t iMinutes = tSeconds / 60 % 60;
  int64_t iSeconds = tSeconds % 60;
  std::string sSpan;
  if (iHours > 0) sSpan += std::to_string(iHours) + " h ";
  if (iHours > 0 || iMinutes > 0) sSpan += std::to_string(iMinutes) + " min ";
  sSpan += std::to_string(iSeconds) + " s";
  return sSpan;
}
