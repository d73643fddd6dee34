// The copy of the whole home a full report hands to the listeners.
#include "console/report/report_event.h"

#include "engine/poll_loop.h"

namespace {

template <class Record>
std::vector<Record> CopyOf(const std::map<int, Record*>& mapRecords) {
  std::vector<Record> vecRecords;
  vecRecords.reserve(mapRecords.size());
  for (const auto& record : mapRecords) vecRecords.push_back(*record.second);
  return vecRecords;
}

}  // namespace

std::shared_ptr<ModelSnapshot> ModelSnapshot::StateOf(
    const Veru::PollLoop& _PollLoop) {
  auto pModel = std::make_shared<ModelSnapshot>();
  pModel->m_iState = _PollLoop.m_iState;
  pModel->m_sComment = _PollLoop.m_sComment;
  pModel->m_iLoadTime = _PollLoop.m_iLoadTime;
  pModel->m_iDataVersion = _PollLoop.m_iDataVersion;
  return pModel;
}

std::shared_ptr<const ModelSnapshot> ModelSnapshot::Of(
    const Veru::PollLoop& _PollLoop) {
  auto pModel = StateOf(_PollLoop);
  pModel->m_vecSection = CopyOf(_PollLoop.m_mapSection);
  pModel->m_vecRoom = CopyOf(_PollLoop.m_mapRoom);
  pModel->m_vecCategory = CopyOf(_PollLoop.m_mapCategory);
  pModel->m_vecScene = CopyOf(_PollLoop.m_mapScene);
  pModel->m_vecDevice = CopyOf(_PollLoop.m_mapDevice);
  return pModel;
}
