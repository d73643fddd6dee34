// Program life: restore the unit, start the engine, run the command loop,
// stop the engine.
#include "console/front_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "console/mqtt/mqtt_bridge.h"
#include "console/history/history_recorder.h"
#include "console/report/json_report.h"
#include "console/report/once_report.h"
#include "console/report/report_fan_out.h"
#include "console/program_end.h"
#include "console/screen/screen.h"
#include "console/setup/settings.h"
#include "console/report/text_report.h"
#include "engine/clock.h"
#include "engine/poll_loop.h"
#include "engine/requests.h"
#include "engine/transport.h"

namespace {

// How often the console thread looks whether the poll thread has ended.
constexpr int kStopCheckMs = 100;
// The plain console's history of command lines, in the working folder.
const char* const kHistoryFile = ".veru_history";
// How long a stop may take before the user is told what it waits for.
constexpr int64_t kStopQuietMs = 1000;

// A new unit record filled from the setting files. Nobody else sees it until
// the caller publishes it.
Veru::Engine* RestoreEngine() {
  Veru::Engine* pEngine = new Veru::Engine();
  RestoreUnitSettings(pEngine);
  return pEngine;
}

// After the stop request: waits until the poll thread has ended. A poll in
// flight is not interrupted, so when that takes more than a moment the user
// is told (on standard error) what the program waits for.
void WaitForPollThread(Veru::PollLoop* pPollLoop) {
  int64_t iStartMs = Veru::NowMs();
  bool bTold = false;
  while (pPollLoop->m_bRunning) {
    if (!bTold && Veru::NowMs() - iStartMs >= kStopQuietMs) {
      fprintf(stderr,
              "Waiting for the request in flight to end (up to %d s)...\n",
              Veru::kRequestTimeLimit);
      bTold = true;
    }
    Veru::SleepMs(kStopCheckMs);
  }
}

// The history recorder as the options ask, listening beside the chosen
// form. A file that cannot be recorded is said once on standard error, and
// the program goes on without it.
void AddHistoryRecorder(const ConsoleOptions& _Options, ReportFanOut* pFanOut) {
  if (!_Options.RecordsHistory()) return;
  std::string sReason;
  std::unique_ptr<HistoryRecorder> pRecorder = HistoryRecorder::Open(
      _Options.m_sHistory, _Options.m_iHistoryDays, &sReason);
  if (pRecorder == nullptr) {
    fprintf(stderr, "veru-console: %s; no history is recorded\n",
            sReason.c_str());
    return;
  }
  pFanOut->AddListener(std::move(pRecorder));
}

// The fetcher's log holds the URL of the last request, and a remote URL holds
// the account's password, which the user may have chosen not to keep: once
// no fetch runs any more, the log is rewritten with every password masked.
// Nothing happens when there is no log or nothing to mask.
void MaskFetcherLog() {
  int iFile = open(Veru::kFetcherLog, O_RDONLY | O_CLOEXEC);
  if (iFile < 0) return;
  std::string sLog;
  char cBuffer[4096];
  ssize_t iRead;
  while ((iRead = read(iFile, cBuffer, sizeof(cBuffer))) > 0) {
    sLog.append(cBuffer, static_cast<size_t>(iRead));
  }
  close(iFile);
  std::string sMasked = Veru::MaskPasswords(sLog);
  if (iRead < 0 || sMasked == sLog) return;
  iFile = open(Veru::kFetcherLog, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (iFile < 0) return;
  size_t iDone = 0;
  while (iDone < sMasked.size()) {
    ssize_t iWritten = write(iFile, sMasked.data() + iDone,
                             sMasked.size() - iDone);
    if (iWritten <= 0) break;
    iDone += static_cast<size_t>(iWritten);
  }
  close(iFile);
}

}  // namespace

FrontEnd::FrontEnd()
    : m_pEngine(nullptr),
      m_pPollLoop(nullptr),
      m_bNeedPassword(false),
      m_bNeedUserPassword(false),
      m_bConnectionLost(false),
      m_pInput(stdin),
      m_pReport(new TextReport(stdout)),
      m_pOnceReport(nullptr),
      m_pScreen(nullptr),
      m_pFanOut(nullptr) {}

FrontEnd::~FrontEnd() = default;

bool FrontEnd::ChooseReport() {
  // The forms for scripts: standard output holds the report alone, every
  // other line (progress, connection lines) goes to standard error. A mode
  // that serves scripts joins this list.
  bool bReportAlone =
      m_Options.m_bJson || m_Options.m_bOnce || !m_Options.m_vecDo.empty();
  FILE* pOutput = stdout;
  if (bReportAlone) {
    pOutput = SetStandardOutputAside();
    if (pOutput == nullptr) {
      fprintf(stderr, "veru-console: cannot set standard output aside for "
                      "%s\n",
              m_Options.m_bJson ? "the JSON events" : "the report");
      return false;
    }
  }
  std::unique_ptr<Report> pReport;
  if (m_Options.m_bScreen) {
    m_pScreen.reset(new Screen(this));
    pReport = m_pScreen->MakeReport();
  } else if (m_Options.m_bJson) {
    pReport.reset(new JsonReport(pOutput));
  } else {
    pReport.reset(new TextReport(pOutput, !m_Options.m_vecDo.empty()));
  }
  if (m_Options.m_bOnce) {
    m_pOnceReport = new OnceReport(std::move(pReport), m_pPollLoop);
    pReport.reset(m_pOnceReport);
  }
  // Whatever listens beside the chosen form (AddListeners) hears it through
  // the fan-out; with no listener it only passes each report on.
  m_pFanOut = new ReportFanOut(std::move(pReport), &m_pEngine);
  m_pReport.reset(m_pFanOut);
  m_pSignalFanOut = m_pFanOut;
  AddHistoryRecorder(m_Options, m_pFanOut);
  return true;
}

int FrontEnd::Run() {
  std::string sNoScreen;
  if (m_Options.m_bScreen && !Screen::Usable(&sNoScreen)) {
    fprintf(stderr, "veru-console: %s\n", sNoScreen.c_str());
    return 2;
  }
  pthread_mutex_init(&m_Mutex, nullptr);
  m_pPollLoop = new Veru::PollLoop(&m_Mutex, this);
  // A signal ends the program as "quit" does, without waiting for the
  // threads: the fetches are ended, a save in progress is let finish and
  // the fetcher's log is masked.
  AddStopStep([this] {
    m_pPollLoop->m_bQuit = true;
    Veru::StopFetches();
    HoldSettingSaves();
    MaskFetcherLog();
    // The listeners end as at "quit" (the history's last reply committed
    // and its file closed, the bridge's "offline" published), but the
    // program does not wait on them for more than a moment.
    if (ReportFanOut* pFanOut = m_pSignalFanOut.load()) {
      pFanOut->StopWithin(std::chrono::seconds(2));
    }
  });
  if (!ChooseReport()) return 1;
  RemoveLeftoverSettingFiles();
  std::string sUsername = LoadSetting("arg_username");
  int iSerialNumber = LeadingInteger(LoadSetting("arg_serialnumber").c_str());
  if (iSerialNumber != 0) m_pEngine = RestoreEngine();

  if (!m_Options.m_vecDo.empty()) {
    int iStatus = RunDo();
    StopEngine();
    return iStatus;
  }
  // The bridge runs as a service: without a terminal no wizard can choose
  // a unit.
  if (m_pEngine.load() == nullptr && !m_Options.m_sMqttUrl.empty() &&
      !isatty(fileno(m_pInput))) {
    fprintf(stderr, "veru-console: --mqtt: no unit saved in the setting files "
                    "of this folder and no terminal to choose one; run "
                    "veru-console without --mqtt first\n");
    return 2;
  }
  // --once never reads standard input, so it has no wizard.
  if (m_pEngine.load() == nullptr && m_Options.m_bOnce) {
    fprintf(stderr, "veru-console: no unit saved in the setting files of "
                    "this folder; run veru-console without --once to choose "
                    "one\n");
    return 1;
  }
  if (m_pEngine.load() == nullptr) ConnectWizard(sUsername);
  if (m_pEngine.load() == nullptr) {
    printf("No engine to connect to\n");
    StopEngine();
    return 1;
  }

  if (!m_Options.m_sMqttUrl.empty() && !StartBridge()) {
    StopEngine();
    return 2;
  }
  // The plain console on a terminal edits its command lines (the view and
  // the forms for scripts read none or read their own).
  if (!m_Options.m_bOnce && !m_Options.m_bJson && m_pScreen == nullptr) {
    Input().StartEditing(kHistoryFile);
  }
  printf("Staring the main loop\n");
  if (m_pScreen != nullptr) m_pScreen->SetOutputAside();
  if (m_Options.m_bOnce) {
    m_pPollLoop->m_iDeadlineMs = Veru::NowMs() + m_Options.m_iTimeout * 1000LL;
  }
  bool bStarted = m_pPollLoop->Start() != 0;
  if (m_Options.m_bOnce) {
    // The poll thread stops by itself after the first full report, or when
    // it gives up (OnceReport), or when the time allowed runs out. This
    // wait only looks at the thread: it takes no time of the clock seam.
    while (m_pPollLoop->m_bRunning) {
      if (m_pPollLoop->PastDeadline()) {
        m_pOnceReport->TimedOut(m_Options.m_iTimeout);
        Veru::StopFetches();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kStopCheckMs));
    }
  } else if (m_pScreen != nullptr) {
    int iStatus = bStarted ? m_pScreen->Run() : 1;
    StopEngine();
    m_pScreen->GiveOutputBack();
    // "q" while the unit does not answer ends as "quit" does then.
    return iStatus == 0 && m_bConnectionLost ? 1 : iStatus;
  } else {
    CommandLoop();
  }

  StopEngine();
  // The terminal as it was, after the poll thread's last line.
  m_LineInput.StopEditing();
  if (m_pOnceReport == nullptr) return bStarted && !m_bConnectionLost ? 0 : 1;
  if (m_pOnceReport->Reported()) return 0;
  const char* sReason = m_pOnceReport->FailureReason();
  fprintf(stderr, "veru-console: no report from the unit: %s\n",
          sReason != nullptr ? sReason : "polling ended");
  return 1;
}

void FrontEnd::SetPassword(const std::string& sPassword, bool bSavePassword) {
  {
    Veru::MutexHolder _Lock(&m_Mutex);
    Veru::Engine* pEngine = m_pEngine.load();
    if (pEngine == nullptr) return;
    pEngine->m_bInvalidUserPass = false;
    pEngine->m_sPassword = sPassword;
  }
  SaveSettings(bSavePassword);
}

bool FrontEnd::CredentialRequested(Credential eCredential) const {
  return eCredential == Credential::kPassword ? m_bNeedPassword.load()
                                              : m_bNeedUserPassword.load();
}

void FrontEnd::RequestCredential(Credential eCredential) {
  if (eCredential == Credential::kPassword) {
    m_bNeedPassword = true;
  } else {
    m_bNeedUserPassword = true;
  }
}

void FrontEnd::DropCredentialRequest(Credential eCredential) {
  if (eCredential == Credential::kPassword) {
    m_bNeedPassword = false;
  } else {
    m_bNeedUserPassword = false;
  }
}

bool FrontEnd::StartBridge() {
  MqttBridge::Settings _Settings;
  std::string sError;
  if (!ParseMqttUrl(m_Options.m_sMqttUrl, &_Settings.m_Url, &sError)) {
    fprintf(stderr, "veru-console: --mqtt: %s\n", sError.c_str());
    return false;
  }
  _Settings.m_sBase = m_Options.m_sMqttTopic;
  _Settings.m_sDiscoveryPrefix = m_Options.m_sMqttDiscovery;
  // The password is read once and taken out of the environment, so that
  // no program this one starts inherits it.
  if (const char* sPassword = getenv("VERU_MQTT_PASSWORD")) {
    _Settings.m_sPassword = sPassword;
    unsetenv("VERU_MQTT_PASSWORD");
  }
  if (const char* sCaFile = getenv("VERU_MQTT_CA_CERTIFICATE")) {
    _Settings.m_sCaFile = sCaFile;
  }
  Veru::Engine _Engine;
  int iSerialNumber =
      m_pPollLoop->CopyEngine(&_Engine) ? _Engine.m_iSerialNumber : 0;
  auto pBridge = std::make_unique<MqttBridge>(
      _Settings, iSerialNumber,
      [this](const std::string& sLine) { return ReadCommand(sLine); },
      [this](const CommandLine& _Command) { return RunCommand(_Command); },
      [this](const std::string& sLine) {
        // Refused credentials at the first connection: the program ends
        // as a signal ends it, with the usage status. This runs on the
        // bridge's own thread, which its listener would wait for: the
        // listeners are not waited for.
        m_pSignalFanOut = nullptr;
        RunStopSteps();
        fprintf(stderr, "%s\n", sLine.c_str());
        _exit(2);
      });
  if (!pBridge->Start(&sError)) {
    fprintf(stderr, "veru-console: --mqtt: %s\n", sError.c_str());
    return false;
  }
  m_pFanOut->AddListener(std::move(pBridge));
  return true;
}

LineInput& FrontEnd::Input() {
  m_LineInput.SetFile(m_pInput);
  return m_LineInput;
}

void FrontEnd::StopEngine() {
  m_pPollLoop->m_bQuit = true;
  // The poll in flight would otherwise hold the end for up to a minute.
  Veru::StopFetches();
  WaitForPollThread(m_pPollLoop);
  // The listeners are given what was reported, then end.
  if (m_pFanOut != nullptr) m_pFanOut->Stop();
  MaskFetcherLog();
}
