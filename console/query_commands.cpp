// The command words that need no device number and send nothing: "help"
// (or "?") lists the commands, "show" prints the whole model as it is known
// now, "show N" one device. Console thread only; the model is read under
// m_Mutex, from memory.
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/front_end.h"
#include "engine/poll_loop.h"

namespace {

// The blank-separated words of a line.
std::vector<std::string> SplitWords(const char* cLine) {
  std::vector<std::string> vecWords;
  const char* p = cLine;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
    if (*p == '\0') return vecWords;
    const char* pStart = p;
    while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\r') ++p;
    vecWords.emplace_back(pStart, static_cast<size_t>(p - pStart));
  }
}

// The device number of "show N": a whole decimal integer, or false.
bool ParseDeviceNumber(const std::string& sWord, int* pDevice) {
  char* pEnd = nullptr;
  errno = 0;
  long iValue = strtol(sWord.c_str(), &pEnd, 10);
  if (pEnd == sWord.c_str() || *pEnd != '\0' || errno != 0) return false;
  if (iValue < -2147483647L - 1 || iValue > 2147483647L) return false;
  *pDevice = static_cast<int>(iValue);
  return true;
}

}  // namespace

void FrontEnd::HandleQuery(const char* cBuffer) {
  std::vector<std::string> vecWords = SplitWords(cBuffer);
  if (vecWords.size() == 1 && (vecWords[0] == "help" || vecWords[0] == "?")) {
    m_pReport->Help();
    return;
  }
  if (vecWords.empty() || vecWords.size() > 2 || vecWords[0] != "show") return;

  Veru::MutexHolder _Lock(&m_Mutex);
  if (vecWords.size() == 1) {
    PrintFullData();
    return;
  }
  int iDevice = 0;
  Veru::Device* pDevice = nullptr;
  if (ParseDeviceNumber(vecWords[1], &iDevice)) {
    pDevice = m_pPollLoop->FindDevice(iDevice);
  }
  if (pDevice == nullptr) {
    m_pReport->NoSuchDevice(cBuffer, vecWords[1]);
    return;
  }
  m_pReport->Device(*pDevice, true);
}
