// Device actions.
#include "engine/poll_loop.h"

namespace Veru {

int PollLoop::RunAction(int, std::string, std::string, std::string, int,
                        std::string&) {
  return -1;
}

}  // namespace Veru
