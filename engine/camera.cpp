// Camera URLs.
#include "engine/poll_loop.h"

namespace Veru {

std::string PollLoop::GetCameraImageURL(int) { return ""; }
std::string PollLoop::GetCameraStreamURL(int, std::string& sType) {
  sType = "failed";
  return "";
}

}  // namespace Veru
