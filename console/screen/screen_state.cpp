// What the full-screen view shows, written by its reports and read by its
// drawing loop.
#include "console/screen/screen_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <map>

#include "engine/clock.h"
#include "engine/poll_loop.h"

ScreenState::ScreenState() {
  m_Model.m_sConnection = m_sConnection;
  if (pipe2(m_aWakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    m_aWakePipe[0] = m_aWakePipe[1] = -1;
  }
}

ScreenState::~ScreenState() {
  if (m_aWakePipe[0] >= 0) close(m_aWakePipe[0]);
  if (m_aWakePipe[1] >= 0) close(m_aWakePipe[1]);
}

void ScreenState::Wake() {
  if (m_bWakePending.exchange(true)) return;
  char c = 1;
  ssize_t iIgnored = write(m_aWakePipe[1], &c, 1);
  (void)iIgnored;
}

void ScreenState::TakeWake() {
  char cDrain[64];
  m_bWakePending = false;
  while (read(m_aWakePipe[0], cDrain, sizeof(cDrain)) > 0) {
  }
}

// --- Written by the report side ----------------------------------------------

void ScreenState::SetDevice(const Veru::Device& _Device, bool bShown) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.SetDevice(_Device, bShown ? 0 : Veru::NowMs());
    ScreenRowKey _Key;
    if (m_Model.FindRow(ScreenRowKey::kDevice, _Device.m_iID, &_Key)) {
      ScreenDeviceReported(&m_View, *m_Model.Device(_Key));
    }
    if (bShown) {
      m_View.m_iSelectedKind = ScreenRowKey::kDevice;
      m_View.m_iSelectedID = _Device.m_iID;
      m_View.m_ePage = ScreenPage::kDetail;
      m_View.m_iPageTop = 0;
    }
  }
  Wake();
}

void ScreenState::SetScene(const Veru::Scene& _Scene) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.SetScene(_Scene, Veru::NowMs());
  }
  Wake();
}

void ScreenState::SetHome(const Veru::PollLoop& _PollLoop) {
  std::map<int, std::string> mapRooms;
  for (const auto& room : _PollLoop.m_mapRoom) mapRooms[room.first] = room.second->m_sName;
  std::map<int, std::string> mapCategories;
  for (const auto& category : _PollLoop.m_mapCategory) {
    mapCategories[category.first] = category.second->m_sName;
  }
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.ClearRecords();
    m_Model.SetRooms(mapRooms);
    m_Model.SetCategories(mapCategories);
    m_View.m_mapAskedLevels.clear();
    for (const auto& device : _PollLoop.m_mapDevice) m_Model.SetDevice(*device.second, 0);
    for (const auto& scene : _PollLoop.m_mapScene) m_Model.SetScene(*scene.second, 0);
    m_Model.m_tLastReplyMs = Veru::NowMs();
    m_Model.m_bNoAnswer = false;
    m_sConnection = "connected";
  }
  Wake();
}

void ScreenState::SetReplied() {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.m_tLastReplyMs = Veru::NowMs();
    m_Model.m_bNoAnswer = false;
    m_sConnection = "connected";
  }
  Wake();
}

void ScreenState::ReadUnit(Veru::PollLoop* pPollLoop) {
  Veru::Engine _Engine;
  if (!pPollLoop->CopyEngine(&_Engine)) return;
  std::string sReachedBy =
      _Engine.m_bUsingRemote ? "remote via " + _Engine.m_sFwdActive
                             : "local " + _Engine.m_sIp;
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.m_sUnitName = _Engine.m_sName;
    m_Model.m_iSerialNumber = _Engine.m_iSerialNumber;
    m_Model.m_sReachedBy = sReachedBy;
  }
  Wake();
}

void ScreenState::SetConnection(const std::string& sWords) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_sConnection = sWords;
  }
  Wake();
}

void ScreenState::SetNoAnswer(const std::string& sWords) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_sConnection = sWords;
    m_Model.m_bNoAnswer = true;
  }
  Wake();
}

void ScreenState::SetMessage(const std::string& sText) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_View.m_sMessage = sText;
  }
  Wake();
}

void ScreenState::SetCameraURLs(int iDevice, const std::string& sImage,
                                const std::string& sStream) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    if (m_View.m_iCameraID != iDevice) return;
    m_View.m_sImageURL = sImage;
    m_View.m_sStreamURL = sStream;
  }
  Wake();
}

void ScreenState::ShowKeys() {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_View.m_ePage = ScreenPage::kKeys;
    m_View.m_iPageTop = 0;
  }
  Wake();
}

void ScreenState::AskPassword() {
  m_bAskPassword = true;
  Wake();
}

void ScreenState::OfferWizard() {
  m_bOfferWizard = true;
  Wake();
}

// --- Read by the drawing loop ------------------------------------------------

bool ScreenState::TakeQuestions() {
  bool bPassword = m_bAskPassword.exchange(false);
  bool bWizard = m_bOfferWizard.exchange(false);
  if (!bPassword && !bWizard) return false;
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (bPassword) ScreenAskPassword(&m_View);
  if (bWizard) ScreenOfferWizard(&m_View);
  return true;
}

bool ScreenState::HasReply() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return m_Model.m_tLastReplyMs > 0;
}

ScreenFrame ScreenState::Layout(int iWidth, int iHeight, bool bSuspended) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_Model.m_sConnection = bSuspended ? "suspended" : m_sConnection;
  ScreenFrame _Frame =
      ScreenLayout(m_Model, m_View, iWidth, iHeight, Veru::NowMs(), Veru::Now());
  m_View.m_TopKey = _Frame.m_TopKey;
  return _Frame;
}

ScreenRequest ScreenState::Key(int iKey, int iPageRows) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  return ScreenViewKey(m_Model, &m_View, iKey, iPageRows);
}

int ScreenState::DetailDevice() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  ScreenRowKey _Key;
  if (m_View.m_ePage != ScreenPage::kDetail ||
      !ScreenSelectedRow(m_Model, m_View, &_Key)) {
    return 0;
  }
  const ScreenDevice* pDevice = m_Model.Device(_Key);
  return pDevice != nullptr ? pDevice->m_iID : 0;
}

void ScreenState::SetHistory(int iID, std::vector<std::string> vecLines) {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_View.m_iHistoryID = iID;
  m_View.m_vecHistory = std::move(vecLines);
}
