// One report to the chosen form at once, and a copy to each listener's
// queue, delivered on the listener's own thread.
#include "console/report/report_fan_out.h"

#include "engine/clock.h"
#include "engine/poll_loop.h"

using Kind = ReportEvent::Kind;

ReportFanOut::ReportFanOut(std::unique_ptr<Report> pForm,
                           const std::atomic<Veru::Engine*>* pEngine)
    : m_pForm(std::move(pForm)), m_pEngine(pEngine) {}

ReportFanOut::~ReportFanOut() { Stop(); }

void ReportFanOut::AddListener(std::unique_ptr<ReportListener> pListener) {
  auto pChannel = std::make_unique<Channel>();
  pChannel->m_pListener = std::move(pListener);
  Channel* pStarted = pChannel.get();
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    if (m_bStopping) return;
    m_vecChannel.push_back(std::move(pChannel));
  }
  pStarted->m_Thread = std::thread([this, pStarted] { Deliver(pStarted); });
  m_bListened = true;
}

void ReportFanOut::Stop() {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_bStopping = true;
    m_bListened = false;
  }
  m_Wake.notify_all();
  std::lock_guard<std::mutex> _Join(m_JoinMutex);
  for (auto& pChannel : m_vecChannel) {
    if (pChannel->m_Thread.joinable()) pChannel->m_Thread.join();
  }
}

bool ReportFanOut::StopWithin(std::chrono::milliseconds tLimit) {
  std::unique_lock<std::mutex> _Lock(m_Mutex);
  m_bStopping = true;
  m_bListened = false;
  m_Wake.notify_all();
  bool bDone = m_Done.wait_for(_Lock, tLimit, [&] {
    for (const auto& pChannel : m_vecChannel) {
      if (!pChannel->m_bDone) return false;
    }
    return true;
  });
  _Lock.unlock();
  // Every listener is past its OnStop: its thread ends at once. Unless Stop
  // is joining them already.
  std::unique_lock<std::mutex> _Join(m_JoinMutex, std::try_to_lock);
  if (bDone && _Join.owns_lock()) {
    for (auto& pChannel : m_vecChannel) {
      if (pChannel->m_Thread.joinable()) pChannel->m_Thread.join();
    }
  }
  return bDone;
}

void ReportFanOut::Deliver(Channel* pChannel) {
  std::unique_lock<std::mutex> _Lock(m_Mutex);
  for (;;) {
    m_Wake.wait(_Lock, [&] {
      return m_bStopping || !pChannel->m_queEvents.empty();
    });
    if (pChannel->m_queEvents.empty()) break;  // stopping, all given
    std::shared_ptr<const ReportEvent> pEvent =
        std::move(pChannel->m_queEvents.front());
    pChannel->m_queEvents.pop_front();
    _Lock.unlock();
    pChannel->m_pListener->OnReport(*pEvent);
    _Lock.lock();
  }
  _Lock.unlock();
  pChannel->m_pListener->OnStop();
  _Lock.lock();
  pChannel->m_bDone = true;
  _Lock.unlock();
  m_Done.notify_all();
}

ReportEvent ReportFanOut::NewEvent(Kind iKind, bool bModel) {
  ReportEvent _Event;
  _Event.m_iKind = iKind;
  _Event.m_tTime = Veru::Now();
  if (bModel) {
    Veru::Engine* pEngine = m_pEngine ? m_pEngine->load() : nullptr;
    if (pEngine != nullptr) m_iSerialNumber = pEngine->m_iSerialNumber;
  }
  _Event.m_iSerialNumber = m_iSerialNumber;
  return _Event;
}

void ReportFanOut::Publish(ReportEvent&& _Event) {
  auto pEvent = std::make_shared<const ReportEvent>(std::move(_Event));
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    if (m_bStopping) return;
    for (auto& pChannel : m_vecChannel) pChannel->m_queEvents.push_back(pEvent);
  }
  m_Wake.notify_all();
}

// --- The home model ---------------------------------------------------------

void ReportFanOut::Device(const Veru::Device& _Device, bool bShown) {
  if (m_pForm) m_pForm->Device(_Device, bShown);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kDevice, true);
  _Event.m_bShown = bShown;
  _Event.m_pDevice = std::make_shared<const Veru::Device>(_Device);
  Publish(std::move(_Event));
}

void ReportFanOut::Scene(const Veru::Scene& _Scene) {
  if (m_pForm) m_pForm->Scene(_Scene);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kScene, true);
  _Event.m_pScene = std::make_shared<const Veru::Scene>(_Scene);
  Publish(std::move(_Event));
}

void ReportFanOut::EngineState(const Veru::PollLoop& _PollLoop) {
  if (m_pForm) m_pForm->EngineState(_PollLoop);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kEngineState, true);
  _Event.m_pModel = ModelSnapshot::StateOf(_PollLoop);
  Publish(std::move(_Event));
}

void ReportFanOut::Full(const Veru::PollLoop& _PollLoop, bool bShown) {
  if (m_pForm) m_pForm->Full(_PollLoop, bShown);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kFull, true);
  _Event.m_bShown = bShown;
  _Event.m_pModel = ModelSnapshot::Of(_PollLoop);
  Publish(std::move(_Event));
}

void ReportFanOut::Partial(int iDataVersion, int iLoadTime) {
  if (m_pForm) m_pForm->Partial(iDataVersion, iLoadTime);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kPartial);
  _Event.m_iDataVersion = iDataVersion;
  _Event.m_iLoadTime = iLoadTime;
  Publish(std::move(_Event));
}

// --- The connection ---------------------------------------------------------

void ReportFanOut::PasswordNeeded() {
  if (m_pForm) m_pForm->PasswordNeeded();
  if (Listened()) Publish(NewEvent(Kind::kPasswordNeeded));
}

void ReportFanOut::UserPasswordNeeded() {
  if (m_pForm) m_pForm->UserPasswordNeeded();
  if (Listened()) Publish(NewEvent(Kind::kUserPasswordNeeded));
}

void ReportFanOut::ConnectionRetry(bool bRemote) {
  if (m_pForm) m_pForm->ConnectionRetry(bRemote);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kConnectionRetry);
  _Event.m_bRemote = bRemote;
  Publish(std::move(_Event));
}

void ReportFanOut::UnableToConnect() {
  if (m_pForm) m_pForm->UnableToConnect();
  if (Listened()) Publish(NewEvent(Kind::kUnableToConnect));
}

void ReportFanOut::ConnectionLost() {
  if (m_pForm) m_pForm->ConnectionLost();
  if (Listened()) Publish(NewEvent(Kind::kConnectionLost));
}

void ReportFanOut::NoResponse(int iCount, int64_t tElapsed) {
  if (m_pForm) m_pForm->NoResponse(iCount, tElapsed);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kNoResponse);
  _Event.m_iCount = iCount;
  _Event.m_iSpan = tElapsed;
  Publish(std::move(_Event));
}

void ReportFanOut::ConnectionRestored(int64_t tOutageSeconds) {
  if (m_pForm) m_pForm->ConnectionRestored(tOutageSeconds);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kConnectionRestored);
  _Event.m_iSpan = tOutageSeconds;
  Publish(std::move(_Event));
}

// --- Commands ---------------------------------------------------------------

void ReportFanOut::Result(const CommandResult& _Result) {
  if (m_pForm) m_pForm->Result(_Result);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kResult);
  _Event.m_Result = _Result;
  Publish(std::move(_Event));
}

void ReportFanOut::NoSuchDevice(const std::string& sCommand,
                                const std::string& sWord) {
  if (m_pForm) m_pForm->NoSuchDevice(sCommand, sWord);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kNoSuchDevice);
  _Event.m_sCommand = sCommand;
  _Event.m_sText = sWord;
  Publish(std::move(_Event));
}

void ReportFanOut::Refused(const std::string& sCommand,
                           const std::string& sReason) {
  if (m_pForm) m_pForm->Refused(sCommand, sReason);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kRefused);
  _Event.m_sCommand = sCommand;
  _Event.m_sText = sReason;
  Publish(std::move(_Event));
}

// An answer read from the history: the form alone hears it (it changes
// nothing the listeners keep).
void ReportFanOut::History(const HistoryAnswer& _Answer) {
  if (m_pForm) m_pForm->History(_Answer);
}

void ReportFanOut::Help() {
  if (m_pForm) m_pForm->Help();
  if (Listened()) Publish(NewEvent(Kind::kHelp));
}

void ReportFanOut::Notice(const std::string& sText) {
  if (m_pForm) m_pForm->Notice(sText);
  if (!Listened()) return;
  ReportEvent _Event = NewEvent(Kind::kNotice);
  _Event.m_sText = sText;
  Publish(std::move(_Event));
}
