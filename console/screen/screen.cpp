// The full-screen view's threads: the drawing loop and the worker that runs
// its commands (what feeds the view is in screen_report.cpp).
#include "console/screen/screen.h"

#include <poll.h>
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "console/commands/command_table.h"
#include "console/front_end.h"
#include "console/history/history_detail.h"
#include "console/program_end.h"
#include "console/screen/screen_keys.h"
#include "console/screen/screen_layout.h"
#include "console/screen/screen_messages.h"
#include "console/screen/screen_output.h"
#include "console/screen/screen_report.h"
#include "console/screen/screen_signals.h"
#include "engine/clock.h"
#include "engine/poll_loop.h"

namespace {

// How often the age of the last reply is told anew.
constexpr int kAgeRefreshMs = 1000;
// How long a stop on a signal waits for the terminal to be given back.
constexpr int kGiveBackWaitMs = 1000;

}  // namespace

Screen::Screen(FrontEnd* pFrontEnd) : m_pFrontEnd(pFrontEnd) {}

Screen::~Screen() {
  {
    std::unique_lock<std::mutex> _Lock(m_JobMutex);
    m_bWorkerQuit = true;
    m_JobReady.notify_all();
    // A command in flight ends at once when the program's fetches are
    // stopped; a worker that still does not end is left to the process's end.
    m_WorkerEnded.wait_for(_Lock, std::chrono::milliseconds(kGiveBackWaitMs),
                           [this] { return !m_Worker.joinable() || m_bWorkerEnded; });
  }
  if (m_Worker.joinable()) {
    if (m_bWorkerEnded) {
      m_Worker.join();
    } else {
      m_Worker.detach();
    }
  }
}

bool Screen::Usable(std::string* pError) { return ScreenTerminal::Usable(pError); }

std::unique_ptr<Report> Screen::MakeReport() {
  return std::unique_ptr<Report>(
      new ScreenReport(&m_State, m_pFrontEnd->PollLoop()));
}

void Screen::SetOutputAside() { ScreenOutput::SetAside(); }

void Screen::GiveOutputBack() {
  // The whole lines printed since the view ended ("MainLoop exiting") are
  // passed on; a line cut off by the end of a fetch is not.
  fflush(stdout);
  fflush(stderr);
  std::string sLines = ScreenOutput::TakeWholeLines();
  ScreenOutput::Restore();
  fputs(sLines.c_str(), stdout);
}

int Screen::Run() {
  setlocale(LC_CTYPE, "");
  std::string sError;
  if (!m_State.Usable() || !m_Terminal.Open(&sError)) {
    if (sError.empty()) sError = strerror(errno);
    ScreenOutput::Restore();
    fprintf(stderr, "veru-console: %s\n", sError.c_str());
    return 1;
  }
  ScreenOutput::SetAside();
  ScreenSignals::Install();
  {
    std::lock_guard<std::mutex> _Lock(m_EndMutex);
    m_bTerminalTaken = true;
  }
  int iStep = AddStopStep([this] { StopOnSignal(); });
  m_State.ReadUnit(m_pFrontEnd->PollLoop());
  m_Worker = std::thread(&Screen::WorkerLoop, this);
  Loop();
  m_Terminal.Close();
  {
    std::lock_guard<std::mutex> _Lock(m_EndMutex);
    m_bTerminalTaken = false;
  }
  m_GivenBack.notify_all();
  RemoveStopStep(iStep);
  ScreenSignals::Remove();
  return m_iStatus;
}

void Screen::StopOnSignal() {
  std::unique_lock<std::mutex> _Lock(m_EndMutex);
  if (!m_bTerminalTaken) return;
  ScreenSignals::AskToEnd();
  if (!m_GivenBack.wait_for(_Lock, std::chrono::milliseconds(kGiveBackWaitMs),
                            [this] { return !m_bTerminalTaken; })) {
    ScreenTerminal::RestoreAfterCrash();  // the drawing thread is stuck
  }
}

void Screen::Loop() {
  while (!m_bEnd) {
    if (m_bDirty) {
      int64_t tNow = Veru::NowMs();
      if (tNow - m_tLastFrameMs >= kMinFrameMs || m_bClearNext) {
        m_bDirty = false;
        DrawFrame();
        m_tLastFrameMs = tNow;
      }
    }
    if (!Wait()) break;
  }
}

bool Screen::Wait() {
  int iTimeout = -1;
  int64_t tNow = Veru::NowMs();
  if (m_bDirty) {
    iTimeout = static_cast<int>(m_tLastFrameMs + kMinFrameMs - tNow);
    if (iTimeout < 0) iTimeout = 0;
  } else if (m_State.HasReply()) {
    iTimeout = kAgeRefreshMs;
  }
  struct pollfd aWait[4] = {
      {m_Terminal.InputFd(), POLLIN, 0},
      {m_State.WakeFd(), POLLIN, 0},
      {ScreenOutput::Fd(), POLLIN, 0},
      {ScreenSignals::Fd(), POLLIN, 0},
  };
  int iReady = poll(aWait, 4, iTimeout);
  if (iReady == 0) {
    m_bDirty = true;  // a highlight fades, the age of the reply grows
    return true;
  }
  if (aWait[3].revents & POLLIN) {
    int iSignal = ScreenSignals::Take();
    if (iSignal == SIGWINCH) {
      m_Terminal.Resize();
      m_bClearNext = true;
      m_bDirty = true;
    } else if (iSignal == ScreenSignals::kEnd) {
      m_iStatus = 1;  // the signal thread ends the program meanwhile
      m_bEnd = true;
      return false;
    } else if (iSignal > 0) {
      m_iStatus = 128 + iSignal;
      m_bEnd = true;
      return false;
    }
  }
  if (aWait[1].revents & POLLIN) {
    m_State.TakeWake();
    m_bDirty = true;
  }
  if (aWait[2].revents & POLLIN) {
    std::string sLine = ScreenOutput::TakeLastLine();
    if (!sLine.empty()) m_State.SetMessage(sLine);
  }
  // After a give-up the poll thread goes on looking for the unit, and the
  // view goes on with it; it ends only when the poll thread has ended.
  if (!m_pFrontEnd->PollLoop()->m_bRunning) {
    m_iStatus = 1;
    m_bEnd = true;
    return false;
  }
  if (m_State.TakeQuestions()) m_bDirty = true;
  if (aWait[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
    m_iStatus = 1;  // the terminal is gone
    m_bEnd = true;
    return false;
  }
  if (aWait[0].revents & POLLIN) HandleKeys();
  return !m_bEnd;
}

void Screen::HandleKeys() {
  std::vector<int> vecKeys;
  m_Terminal.ReadKeys(&vecKeys);
  for (int iKey : vecKeys) {
    if (iKey == kKeyResize) {
      m_Terminal.Resize();
      m_bClearNext = true;
    }
    int iWidth = 0;
    int iHeight = 0;
    m_Terminal.Size(&iWidth, &iHeight);
    ScreenRequest _Request = m_State.Key(iKey, iHeight - 3);
    m_bDirty = true;
    HandleRequest(_Request);
    // Keys typed after the answer to the wizard's offer were typed ahead
    // of the wizard: they are no keys of the view either.
    if (m_bEnd || _Request.m_eKind == ScreenRequest::kWizard) return;
  }
}

void Screen::HandleRequest(const ScreenRequest& _Request) {
  switch (_Request.m_eKind) {
    case ScreenRequest::kNothing:
      return;
    case ScreenRequest::kRedraw:
      m_bClearNext = true;
      return;
    case ScreenRequest::kQuit:
      m_iStatus = 0;
      m_bEnd = true;
      return;
    case ScreenRequest::kWizard:
      return RunWizard();
    case ScreenRequest::kPassword:
      return GivePassword(_Request.m_sText);
    case ScreenRequest::kCameraURLs: {
      Job _Job;
      _Job.bCamera = true;
      _Job.iDevice = _Request.m_iID;
      return Submit(_Job);
    }
    case ScreenRequest::kCommand:
      break;
  }
  CommandLine _Command = m_pFrontEnd->ReadCommand(_Request.m_sText);
  if (_Command.pRow == nullptr && _Command.iDevice == 0) {
    m_State.SetMessage(_Command.sError.empty() ? "" : _Request.m_sText + ": " + _Command.sError);
    return;
  }
  CommandNext eNext = _Command.pRow != nullptr ? _Command.pRow->eNext : CommandNext::kGoOn;
  if (eNext == CommandNext::kQuit) {
    m_iStatus = 0;
    m_bEnd = true;
    return;
  }
  // The wizard needs the plain terminal: it runs here, off the full screen.
  if (eNext == CommandNext::kWizard) {
    return RunWizard();
  }
  bool bSends = _Command.pRow == nullptr || ReportsResult(*_Command.pRow);
  if (bSends) m_State.SetMessage(_Request.m_sText + ": ...");
  Job _Job;
  _Job.sLine = _Request.m_sText;
  Submit(_Job);
}

void Screen::RunWizard() {
  m_Terminal.Close();
  ScreenOutput::Restore();
  // Meanwhile a signal has no full screen to give back.
  {
    std::lock_guard<std::mutex> _Lock(m_EndMutex);
    m_bTerminalTaken = false;
  }
  // What was typed before the wizard (the key that answered, a key typed
  // ahead) is no answer to its questions.
  tcflush(STDIN_FILENO, TCIFLUSH);
  __fpurge(m_pFrontEnd->Input().File());
  m_pFrontEnd->ConnectWizard("");
  m_pFrontEnd->DropCredentialRequest(FrontEnd::Credential::kUserPassword);
  std::string sError;
  if (!m_Terminal.Open(&sError)) {
    fprintf(stderr, "veru-console: %s\n", sError.c_str());
    m_iStatus = 1;
    m_bEnd = true;
    return;
  }
  ScreenOutput::SetAside();
  {
    std::lock_guard<std::mutex> _Lock(m_EndMutex);
    m_bTerminalTaken = true;
  }
  m_State.ReadUnit(m_pFrontEnd->PollLoop());
  m_bClearNext = true;
  m_bDirty = true;
}

void Screen::GivePassword(const std::string& sPassword) {
  m_pFrontEnd->SetPassword(sPassword, false);
  m_pFrontEnd->DropCredentialRequest(FrontEnd::Credential::kPassword);
  m_State.SetMessage("Password given (not saved)");
}

// A device's detail page shows its history, read from the history file when
// the page opens and again every few seconds while it is shown.
void Screen::ReadDetailHistory(int iWidth, int iHeight) {
  int iDevice = m_State.DetailDevice();
  if (iDevice == 0) {
    m_iHistoryID = 0;
    return;
  }
  int64_t tNowMs = Veru::NowMs();
  if (iDevice == m_iHistoryID && tNowMs - m_tHistoryReadMs < kHistoryRereadMs) {
    return;
  }
  m_iHistoryID = iDevice;
  m_tHistoryReadMs = tNowMs;
  // Block characters only where the locale's characters take more than a
  // byte (UTF-8); plain ASCII elsewhere.
  bool bUnicode = MB_CUR_MAX > 1;
  m_State.SetHistory(
      iDevice, HistoryDetailLines(m_pFrontEnd->Options().m_sHistory, 0,
                                  iDevice, Veru::Now(), iWidth, iHeight,
                                  bUnicode));
}

void Screen::DrawFrame() {
  int iWidth = 0;
  int iHeight = 0;
  m_Terminal.Size(&iWidth, &iHeight);
  ReadDetailHistory(iWidth, iHeight);
  ScreenFrame _Frame =
      m_State.Layout(iWidth, iHeight, m_pFrontEnd->PollLoop()->m_bSuspended);
  m_Terminal.Draw(_Frame, m_bClearNext);
  m_bClearNext = false;
}

// --- Worker ----------------------------------------------------------------

void Screen::Submit(const Job& _Job) {
  {
    std::lock_guard<std::mutex> _Lock(m_JobMutex);
    m_dequeJobs.push_back(_Job);
  }
  m_JobReady.notify_one();
}

void Screen::WorkerLoop() {
  std::unique_lock<std::mutex> _Lock(m_JobMutex);
  for (;;) {
    m_JobReady.wait(_Lock, [this] { return m_bWorkerQuit || !m_dequeJobs.empty(); });
    if (m_bWorkerQuit) {
      m_bWorkerEnded = true;
      m_WorkerEnded.notify_all();
      return;
    }
    Job _Job = m_dequeJobs.front();
    m_dequeJobs.pop_front();
    _Lock.unlock();
    RunJob(_Job);
    _Lock.lock();
  }
}

void Screen::RunJob(const Job& _Job) {
  if (!_Job.bCamera) {
    std::string sText = ScreenMessageOf(m_pFrontEnd->RunCommand(_Job.sLine));
    if (!sText.empty()) m_State.SetMessage(sText);
    return;
  }
  CommandResult _Image;
  CommandResult _Stream;
  m_pFrontEnd->CameraURL(_Job.iDevice, CommandResult::Kind::kImage, &_Image);
  m_pFrontEnd->CameraURL(_Job.iDevice, CommandResult::Kind::kStream, &_Stream);
  std::string sImage = _Image.sURL.empty() ? "(none)" : _Image.sURL;
  std::string sStream =
      _Stream.sURL.empty() ? "(none: " + _Stream.sType + ")" : _Stream.sURL;
  m_State.SetCameraURLs(_Job.iDevice, sImage, sStream);
}
