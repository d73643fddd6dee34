// The locator service.
#include "engine/poll_loop.h"

namespace Veru {

int PollLoop::Locate(std::string) { return -1; }
int PollLoop::ParseUnits(json_object*, const std::string&) { return -1; }
void PollLoop::ClearEngines() {}

}  // namespace Veru
