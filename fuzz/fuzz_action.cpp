// Fuzz target: the short replies of the console thread's requests. The
// input is read as the answer to a device action (the reply text and its
// parsed form, as the request leaves them) and as the reply to a camera's
// stream-port request, and the results are printed as the command loop
// prints them.
//
// Input: the reply text; the transport's buffer holds every byte and a NUL
// after them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/reply_readers.h"
#include "engine/terminal_text.h"
#include "engine/transport.h"
#include "fuzz/fuzz_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t iSize) {
  SilenceStdout();
  // The reply as FetchURL leaves it: a malloc'd buffer, NUL after the text.
  Veru::DataBlock _DataBlock(true);
  _DataBlock.m_pData = static_cast<char*>(malloc(iSize + 1));
  if (iSize != 0) memcpy(_DataBlock.m_pData, pData, iSize);
  _DataBlock.m_pData[iSize] = '\0';
  _DataBlock.m_iSize = static_cast<int>(iSize);

  // Request parses only a reply that is not empty.
  json_object* p_json_object =
      iSize == 0 ? nullptr : Veru::ParseReply(_DataBlock.m_pData);
  std::string sMessage;
  int iResult = Veru::ReadActionReply(_DataBlock, p_json_object, sMessage);
  printf("\n----COMMAND RESULT: %d %s", iResult,
         Veru::EscapeControlBytes(sMessage).c_str());
  if (p_json_object != nullptr) json_object_put(p_json_object);

  std::string sType = "failed";
  std::string sURL = Veru::ReadCameraPortReply(_DataBlock.m_pData, sType);
  printf("\n---URL type: %s for camera stream: %s\n",
         Veru::EscapeControlBytes(sType).c_str(),
         Veru::EscapeControlBytes(sURL).c_str());
  return 0;
}
