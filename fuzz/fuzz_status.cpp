// Fuzz target: the status merge. Two replies in a row go into one model, as
// two polls bring them: the first is made a full reply (when it is an
// object), the second is anything, so the second merges into a model the
// first filled. The printing hooks run for both, and the camera stream URL
// is assembled from the variables of the first devices.
//
// Input: the two reply texts, split at the first NUL byte (a reply text
// itself ends at its first NUL, as the transport's buffer does).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t iSize) {
  SilenceStdout();
  std::string sInput(reinterpret_cast<const char*>(pData), iSize);
  size_t iSplit = sInput.find('\0');
  std::string sFirst = sInput.substr(0, iSplit);
  std::string sSecond =
      iSplit == std::string::npos ? "" : sInput.substr(iSplit + 1);

  FuzzModel _Model(45001);
  Veru::PollLoop* pPollLoop = &_Model.m_PollLoop;
  json_object* p_json_first = Veru::ParseReply(sFirst.c_str());
  if (json_object_is_type(p_json_first, json_type_object)) {
    json_object_object_add(p_json_first, "full", json_object_new_int(1));
  }
  pPollLoop->ParseStatus(p_json_first);
  pPollLoop->ParseStatus(Veru::ParseReply(sSecond.c_str()));

  // The model's texts read back: the stream URL of a local camera.
  int iCount = 0;
  for (const auto& device : pPollLoop->m_mapDevice) {
    if (++iCount > 8) break;
    std::string sType;
    pPollLoop->GetCameraStreamURL(device.first, sType);
  }
  _Model.m_FrontEnd.OnFullData();
  return 0;
}
