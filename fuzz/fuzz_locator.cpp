// Fuzz target: the locator reply. The same document is merged into the unit
// list twice, with a change of the current unit between (to the last unit
// listed, when there is one), as a wizard run after a re-location does; the
// base URL of the current unit is formed after each merge, both ways.
//
// Input: the reply text (it ends at its first NUL, as the transport's
// buffer does).
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/terminal_text.h"
#include "fuzz/fuzz_model.h"

namespace {

void ReadBack(Veru::PollLoop* pPollLoop, Veru::Engine* pCurrent) {
  for (bool bUsingRemote : {false, true}) {
    pCurrent->m_bUsingRemote = bUsingRemote;
    pPollLoop->GetBaseURL();
  }
  // The wizard's list of units prints these.
  for (const auto& unit : pPollLoop->m_mapEngine) {
    Veru::EscapeControlBytes(unit.second->m_sIp);
    Veru::EscapeControlBytes(unit.second->m_sName);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t iSize) {
  SilenceStdout();
  std::string sReply(reinterpret_cast<const char*>(pData), iSize);
  json_object* p_json_object = Veru::ParseReply(sReply.c_str());
  if (p_json_object == nullptr) return 0;

  FuzzModel _Model(45001);
  Veru::PollLoop* pPollLoop = &_Model.m_PollLoop;
  pPollLoop->ParseUnits(p_json_object, "demo");
  ReadBack(pPollLoop, _Model.m_FrontEnd.CurrentEngine());
  if (!pPollLoop->m_mapEngine.empty()) {
    _Model.m_FrontEnd.SetCurrentEngine(pPollLoop->m_mapEngine.rbegin()->second);
  }
  pPollLoop->ParseUnits(p_json_object, "demo");
  ReadBack(pPollLoop, _Model.m_FrontEnd.CurrentEngine());
  // The current unit now belongs to the unit list, like every other; the
  // first one may have been deleted by the second merge.
  _Model.m_pUnit = _Model.m_FrontEnd.CurrentEngine();
  json_object_put(p_json_object);
  return 0;
}
