// Screen is the full-screen view (--screen): a Report that keeps its own
// copy of the home (ScreenModel) from the engine's reports and draws it in
// place, with keys to act, a filter, a detail page and a message line.
//
// Threads:
//   - the drawing thread (the console thread, inside Run) alone calls the
//     terminal (ScreenTerminal). It sleeps in poll() on the terminal, the
//     wake-up pipe, the pipe standard output and error write into, and the
//     signal pipe, with a timeout only while a highlight fades or the age
//     of the last reply is shown (once a second);
//   - the poll thread calls the Report methods (Device and Scene inside a
//     merge, the model lock held): they copy what changed into the view's
//     model under m_Mutex and wake the drawing thread; they never call the
//     terminal and never take the model lock when it may be held;
//   - one worker thread runs the commands (the ':' line, Space, +, -, p, the
//     camera URLs of the detail page), so the view never waits for the unit;
//     their results come back as Result reports.
//   Redraws are coalesced to at most one per kMinFrameMs.
// Lock: m_Mutex guards m_Model, m_View and the job queue. Order: the model
//   lock (the front end's m_Mutex) may be held when m_Mutex is taken, never
//   the other way round.
// Ownership: the front end owns the Screen as its Report; the Screen borrows
//   the front end, which outlives it.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_H
#define VERU_CONSOLE_SCREEN_SCREEN_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "console/commands/command_table.h"
#include "console/report/report.h"
#include "console/screen/screen_model.h"
#include "console/screen/screen_terminal.h"
#include "console/screen/screen_view.h"

class FrontEnd;

class Screen : public Report {
 public:
  explicit Screen(FrontEnd* pFrontEnd);
  ~Screen() override;
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  // True when the terminal can take the view; else false with the reason.
  static bool Usable(std::string* pError);

  // Runs the view on the calling thread until q (or ":quit"), the end of
  // the poll thread, or SIGINT, SIGTERM or SIGHUP, and gives the terminal
  // back as it was. Returns the exit status: 0 after q, 1 when the poll
  // thread ended or the terminal could not be taken (one line on standard
  // error). A lost connection does not end the view (the poll thread goes
  // on looking for the unit); Run's caller makes a q during it a 1. On a signal the program's signal thread ends the
  // program with 128 + the signal once the view's stop step has had the
  // terminal given back (128 + the signal is returned here only when no
  // such thread takes the signals).
  int Run();

  // The frame the drawing thread would draw now at that size (any thread;
  // takes m_Mutex). Keeps the frame's first row for the next one.
  ScreenFrame Layout(int iWidth, int iHeight);

  // --- Report (see report.h for the threads of each) -----------------------
  void Device(const Veru::Device& _Device, bool bShown) override;
  void Scene(const Veru::Scene& _Scene) override;
  void EngineState(const Veru::PollLoop& _PollLoop) override;
  void Full(const Veru::PollLoop& _PollLoop, bool bShown) override;
  void Partial(int iDataVersion, int iLoadTime) override;
  void PasswordNeeded() override;
  void UserPasswordNeeded() override;
  void ConnectionRetry(bool bRemote) override;
  void UnableToConnect() override;
  void ConnectionLost() override;
  void NoResponse(int iCount, int64_t tElapsed) override;
  void ConnectionRestored(int64_t tOutageSeconds) override;
  void Result(const CommandResult& _Result) override;
  void NoSuchDevice(const std::string& sCommand,
                    const std::string& sWord) override;
  void Help() override;
  void Notice(const std::string& sText) override;
  void History(const HistoryAnswer& _Answer) override;

  // The fastest the view redraws: a burst of changes makes one frame.
  static constexpr int kMinFrameMs = 50;

 private:
  struct Job {
    bool bCamera = false;  // false: sLine is a command line
    std::string sLine;
    int iDevice = 0;
  };

  // --- Drawing thread ----------------------------------------------------------
  void Loop();
  // Waits for something to do; false when the view is to end.
  bool Wait();
  void HandleKeys();
  void HandleRequest(const ScreenRequest& _Request);
  // Leaves the full screen for the connection wizard and comes back.
  void RunWizard();
  void GivePassword(const std::string& sPassword);
  void DrawFrame();
  // The header's words on the unit and how it is reached, taken from the
  // current unit (takes the model lock: never with m_Mutex held).
  void ReadUnit();
  // Puts the model's connection words and the message, under m_Mutex.
  void SetConnection(const std::string& sWords);
  void SetMessage(const std::string& sText);
  // The message line's text for a command's result, and for what came of
  // a command line (empty: a show or help has put its own message).
  static std::string MessageOf(const CommandResult& _Result);
  static std::string MessageOf(const CommandOutcome& _Outcome);
  // Wakes the drawing thread (any thread; async-signal-safe).
  void Wake();
  // The view's stop step, on the program's signal thread: asks the drawing
  // thread to give the terminal back and waits for that a moment.
  void StopOnSignal();

  // --- Worker thread -----------------------------------------------------------
  void Submit(const Job& _Job);
  void WorkerLoop();
  void RunJob(const Job& _Job);

  FrontEnd* m_pFrontEnd;
  ScreenTerminal m_Terminal;

  std::mutex m_Mutex;
  ScreenModel m_Model;
  ScreenView m_View;
  std::deque<Job> m_dequeJobs;
  std::condition_variable m_JobReady;
  bool m_bWorkerQuit = false;
  bool m_bWorkerEnded = false;  // set by the worker as it returns
  std::condition_variable m_WorkerEnded;
  std::thread m_Worker;

  // Set by the poll thread, taken by the drawing thread.
  std::atomic<bool> m_bWakePending{false};
  std::atomic<bool> m_bAskPassword{false};
  std::atomic<bool> m_bOfferWizard{false};
  std::atomic<bool> m_bDirty{true};

  int m_aWakePipe[2] = {-1, -1};
  // The drawing thread's own: the view ends with m_iStatus when m_bEnd.
  bool m_bEnd = false;
  int m_iStatus = 0;
  bool m_bClearNext = true;
  int64_t m_tLastFrameMs = 0;
  std::string m_sConnection;  // guarded by m_Mutex
  // True while the terminal is the view's; the stop step waits on
  // m_GivenBack (under m_EndMutex) for it to become false.
  bool m_bTerminalTaken = false;
  std::mutex m_EndMutex;
  std::condition_variable m_GivenBack;
};

#endif  // VERU_CONSOLE_SCREEN_SCREEN_H
