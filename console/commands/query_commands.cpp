// "show", which reports the whole model as it is known now, and "show N",
// one device. Console thread only; the model is read under m_Mutex, from
// memory, and nothing is sent.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "console/front_end.h"
#include "engine/poll_loop.h"

namespace {

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

bool FrontEnd::Show(const std::string& sLine, const std::string& sWhat) {
  Veru::MutexHolder _Lock(&m_Mutex);
  if (sWhat.empty()) {
    PrintFullData();
    return true;
  }
  int iDevice = 0;
  Veru::Device* pDevice = nullptr;
  if (ParseDeviceNumber(sWhat, &iDevice)) {
    pDevice = m_pPollLoop->FindDevice(iDevice);
  }
  if (pDevice == nullptr) {
    m_pReport->NoSuchDevice(sLine, sWhat);
    return false;
  }
  m_pReport->Device(*pDevice, true);
  return true;
}
