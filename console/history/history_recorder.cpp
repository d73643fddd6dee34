// The reports compared with what was recorded; what differs written once
// per merged reply.
#include "console/history/history_recorder.h"

#include <cstdio>

#include "console/history/history_file.h"
#include "console/history/history_purge.h"
#include "console/history/latest_values.h"
#include "engine/clock.h"

using Kind = ReportEvent::Kind;

std::unique_ptr<HistoryRecorder> HistoryRecorder::Open(
    const std::string& sPath, int iRetentionDays, std::string* pReason) {
  sqlite3* pDatabase = OpenHistoryForWriting(sPath, pReason);
  if (pDatabase == nullptr) return nullptr;
  auto pWriter = std::make_unique<HistoryWriter>(pDatabase);
  std::string sWhy;
  std::unique_ptr<HistoryRecorder> pRecorder;
  if (pWriter->Prepare(&sWhy)) {
    pRecorder.reset(new HistoryRecorder(std::move(pWriter), sPath,
                                        iRetentionDays));
    int64_t tNow = Veru::Now();
    pRecorder->m_tLastPurge = tNow;
    pRecorder->m_tLatestWritten = tNow;
    // The purge may delete changes the latest table does not hold yet:
    // it is written first.
    if (pRecorder->m_pWriter->ReadLatest(&pRecorder->m_Home, &sWhy) &&
        pRecorder->WriteBatch(tNow, true, &sWhy) &&
        PurgeHistory(pDatabase, tNow - pRecorder->m_iRetentionSeconds,
                     &sWhy)) {
      return pRecorder;
    }
  }
  *pReason = sPath + ": " + sWhy;
  return nullptr;
}

HistoryRecorder::HistoryRecorder(std::unique_ptr<HistoryWriter> pWriter,
                                 std::string sPath, int iRetentionDays)
    : m_pWriter(std::move(pWriter)),
      m_sPath(std::move(sPath)),
      m_iRetentionSeconds(static_cast<int64_t>(iRetentionDays) * 86400) {}

void HistoryRecorder::OnReport(const ReportEvent& _Event) {
  if (m_pWriter == nullptr || _Event.m_bShown) return;
  int iUnit = _Event.m_iSerialNumber;
  switch (_Event.m_iKind) {
    case Kind::kDevice:
      if (iUnit != 0) CompareDevice(_Event.m_tTime, iUnit, *_Event.m_pDevice);
      break;
    case Kind::kScene:
      if (iUnit != 0) CompareScene(_Event.m_tTime, iUnit, *_Event.m_pScene);
      break;
    case Kind::kFull:
      if (iUnit != 0) {
        for (const Veru::Device& _Device : _Event.m_pModel->m_vecDevice) {
          CompareDevice(_Event.m_tTime, iUnit, _Device);
        }
        for (const Veru::Scene& _Scene : _Event.m_pModel->m_vecScene) {
          CompareScene(_Event.m_tTime, iUnit, _Scene);
        }
      }
      Commit(_Event.m_tTime);
      break;
    case Kind::kPartial:
    case Kind::kEngineState:
      Commit(_Event.m_tTime);
      break;
    case Kind::kConnectionLost:
    case Kind::kConnectionRestored:
      m_Batch.vecConnection.emplace_back(
          _Event.m_tTime, iUnit,
          _Event.m_iKind == Kind::kConnectionLost ? "lost" : "restored");
      Commit(_Event.m_tTime);
      break;
    default:
      break;
  }
}

void HistoryRecorder::OnStop() {
  if (m_pWriter != nullptr) Commit(Veru::Now(), true);
  m_pWriter.reset();
}

void HistoryRecorder::CompareDevice(int64_t tTime, int iUnit,
                                    const Veru::Device& _Device) {
  auto iKey = std::make_pair(iUnit, _Device.m_iID);
  RecordedDevice& _Recorded = m_Home.mapDevices[iKey];
  size_t iChangesBefore = m_Batch.vecChanges.size();
  if (_Recorded.sName != _Device.m_sName) {
    _Recorded.sName = _Device.m_sName;
    m_Batch.mapNames[iKey] = _Device.m_sName;
  }
  for (const auto& variable : _Device.m_mapVariables) {
    CompareValue(tTime, iUnit, _Device.m_iID, &_Recorded, variable.first,
                 variable.second);
  }
  // The names of the two fields cannot be a variable's: the model keeps a
  // device's "state" and "comment" members apart from its variables.
  if (_Device.m_iState != -1) {
    CompareValue(tTime, iUnit, _Device.m_iID, &_Recorded, "state",
                 std::to_string(_Device.m_iState));
  }
  if (!_Device.m_sComment.empty() || _Recorded.mapValues.count("comment")) {
    CompareValue(tTime, iUnit, _Device.m_iID, &_Recorded, "comment",
                 _Device.m_sComment);
  }
  if (m_Batch.vecChanges.size() != iChangesBefore) {
    m_Home.setUnwritten.insert(iKey);
  }
}

void HistoryRecorder::CompareValue(int64_t tTime, int iUnit, int iDevice,
                                   RecordedDevice* pRecorded,
                                   const std::string& sVariable,
                                   const std::string& sValue) {
  auto iFound = pRecorded->mapValues.find(sVariable);
  if (iFound != pRecorded->mapValues.end() && iFound->second == sValue) return;
  DeviceChange _Change;
  _Change.tTime = tTime;
  _Change.iUnit = iUnit;
  _Change.iDevice = iDevice;
  _Change.sVariable = sVariable;
  _Change.bHasPrevious = iFound != pRecorded->mapValues.end();
  if (_Change.bHasPrevious) _Change.sPrevious = iFound->second;
  _Change.sValue = sValue;
  m_Batch.vecChanges.push_back(std::move(_Change));
  if (iFound != pRecorded->mapValues.end()) {
    iFound->second = sValue;
  } else {
    pRecorded->mapValues.emplace_hint(iFound, sVariable, sValue);
  }
}

void HistoryRecorder::CompareScene(int64_t tTime, int iUnit,
                                   const Veru::Scene& _Scene) {
  auto iKey = std::make_pair(iUnit, _Scene.m_iID);
  auto iFound = m_Home.mapScenes.find(iKey);
  bool bKnown = iFound != m_Home.mapScenes.end();
  if (bKnown && iFound->second.bActive == _Scene.m_bActive &&
      iFound->second.sName == _Scene.m_sName) {
    return;
  }
  SceneChange _Change;
  _Change.tTime = tTime;
  _Change.iUnit = iUnit;
  _Change.iScene = _Scene.m_iID;
  _Change.sName = _Scene.m_sName;
  _Change.bActive = _Scene.m_bActive;
  _Change.bFlagChanged = !bKnown || iFound->second.bActive != _Scene.m_bActive;
  m_Batch.vecScenes.push_back(std::move(_Change));
  RecordedScene& _Recorded = m_Home.mapScenes[iKey];
  _Recorded.sName = _Scene.m_sName;
  _Recorded.bActive = _Scene.m_bActive;
}

bool HistoryRecorder::WriteBatch(int64_t tNow, bool bWriteLatest,
                                 std::string* pReason) {
  std::set<std::pair<int, int>>& setUnwritten = m_Home.setUnwritten;
  bWriteLatest = bWriteLatest || setUnwritten.size() >= kLatestWriteDevices ||
                 (!setUnwritten.empty() &&
                  tNow - m_tLatestWritten >= kLatestWriteSeconds);
  if (bWriteLatest) {
    for (const auto& iKey : setUnwritten) {
      m_Batch.mapLatest[iKey] =
          LatestValuesText(m_Home.mapDevices[iKey].mapValues);
    }
    m_Batch.bLatestWritten = true;
  }
  bool bWritten = m_pWriter->Write(m_Batch, pReason);
  m_Batch = HistoryBatch();
  if (bWritten && bWriteLatest) {
    setUnwritten.clear();
    m_tLatestWritten = tNow;
  }
  return bWritten;
}

void HistoryRecorder::Commit(int64_t tNow, bool bWriteLatest) {
  if (m_pWriter == nullptr) return;
  std::string sReason;
  if (!WriteBatch(tNow, bWriteLatest, &sReason)) {
    GiveUp(m_sPath + ": " + sReason);
    return;
  }
  PurgeIfDue(tNow);
}

void HistoryRecorder::PurgeIfDue(int64_t tNow) {
  if (m_tLastPurge != 0 && tNow - m_tLastPurge < kHistoryPurgeEverySeconds) {
    return;
  }
  m_tLastPurge = tNow;
  std::string sReason;
  if (!WriteBatch(tNow, true, &sReason) ||
      !PurgeHistory(m_pWriter->Database(), tNow - m_iRetentionSeconds,
                    &sReason)) {
    GiveUp(m_sPath + ": " + sReason);
  }
}

void HistoryRecorder::GiveUp(const std::string& sReason) {
  fprintf(stderr, "veru-console: %s; the history is not recorded any more\n",
          sReason.c_str());
  m_pWriter.reset();
}
