// Status polling and merging.
#include <json-c/json.h>

#include "engine/poll_loop.h"

namespace Veru {

json_object* PollLoop::GetStatus() { return nullptr; }
void PollLoop::ParseStatus(json_object* p_json_object) {
  if (p_json_object != nullptr) json_object_put(p_json_object);
}
void PollLoop::ClearData() {}
void PollLoop::ParseSections(json_object*) {}
void PollLoop::ParseRooms(json_object*) {}
void PollLoop::ParseCategories(json_object*) {}
void PollLoop::ParseScenes(json_object*, bool) {}
void PollLoop::ParseDevices(json_object*, bool) {}

}  // namespace Veru
