// "show", which reports the whole model as it is known now, and "show N",
// one device. Console thread only; the model is read under m_Mutex, from
// memory, and nothing is sent.
#include <climits>
#include <string>

#include "console/front_end.h"
#include "console/number_text.h"
#include "engine/poll_loop.h"

namespace {

// The device number of "show N", read as a command line's device number is
// ("show 5x" is device 5, as "5x on" switches device 5): the leading
// integer, refused beyond 32 bits or when there is none.
bool ParseDeviceNumber(const std::string& sWord, int* pDevice) {
  NumberText _Number = ReadNumberText(sWord);
  if (!NumberInRange(_Number, INT_MIN, INT_MAX)) return false;
  *pDevice = static_cast<int>(_Number.iValue);
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
