// The readers of the two short replies the console thread asks a controller
// for: the answer to a device action and the stream address of a camera.
// Each takes the reply as it came and sends nothing, so each can be tried on
// any text (see fuzz/). RunAction and GetCameraStreamURL (poll_loop.h) send
// the requests and call them.
//
// Threads: any; they touch no shared state. Nothing is locked.
#ifndef VERU_ENGINE_REPLY_READERS_H
#define VERU_ENGINE_REPLY_READERS_H

#include <string>

struct json_object;

namespace Veru {

class DataBlock;

// The result of a device action from what its request left: the reply text
// in _DataBlock (m_pData may be null) and its parsed form p_json_object
// (borrowed; null when there was none or the text is not JSON). 0 done, a
// job number, or -1; an "ERROR:" text also puts the controller's message
// (what follows the mark) into sMessage.
int ReadActionReply(const DataBlock& _DataBlock, json_object* p_json_object,
                    std::string& sMessage);

// The stream URL from the text of an lu_camera_port reply (NUL-terminated),
// with sType set to the reply's "status". Empty, with sType as it was, when
// the text is not a JSON object with both a "status" and a "url" text.
std::string ReadCameraPortReply(const char* sReply, std::string& sType);

}  // namespace Veru

#endif  // VERU_ENGINE_REPLY_READERS_H
