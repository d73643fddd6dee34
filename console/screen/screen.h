// Screen is the full-screen view (--screen): the drawing loop that lays the
// view's state (ScreenState) out on the terminal and applies the keys to
// it, and the worker that runs the commands the keys ask for. What the
// engine reports reaches the state through the view's report
// (ScreenReport, made by MakeReport), which the front end owns as its
// Report.
//
// Threads:
//   - the drawing thread (the console thread, inside Run) alone calls the
//     terminal (ScreenTerminal). It sleeps in poll() on the terminal, the
//     state's wake-up pipe, the pipe standard output and error write into,
//     and the signal pipe, with a timeout only while a highlight fades or
//     the age of the last reply is shown (once a second);
//   - the poll thread writes the state through the report (see
//     screen_report.h);
//   - one worker thread runs the commands (the ':' line, Space, +, -, p, the
//     camera URLs of the detail page), so the view never waits for the unit;
//     their results come back as Result reports.
//   Redraws are coalesced to at most one per kMinFrameMs.
// Locks: the state's lock (see screen_state.h) guards what is shown;
//   m_JobMutex guards the job queue and the worker's end; m_EndMutex guards
//   whether the terminal is the view's (for the stop on a signal). None is
//   held while another is taken, and none while the model lock is taken.
// Ownership: the front end owns the Screen and its report; the Screen owns
//   the state and borrows the front end, which outlives it.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_H
#define VERU_CONSOLE_SCREEN_SCREEN_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "console/report/report.h"
#include "console/screen/screen_state.h"
#include "console/screen/screen_terminal.h"
#include "console/screen/screen_view.h"

class FrontEnd;

class Screen {
 public:
  explicit Screen(FrontEnd* pFrontEnd);
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  // True when the terminal can take the view; else false with the reason.
  static bool Usable(std::string* pError);

  // The report that feeds this view, for the front end to own (it borrows
  // the Screen's state). The front end's poll loop must be made already.
  std::unique_ptr<Report> MakeReport();

  // Standard output and error kept off the terminal (into a pipe whose
  // last line the message line shows) from SetOutputAside to
  // GiveOutputBack. The front end sets them aside before it starts the
  // poll thread and gives them back once polling has ended, so no line of
  // a fetch is left half-printed on the terminal; the whole lines printed
  // since the view ended, other than the fetches' progress, are passed on
  // to standard output then. Drawing thread.
  void SetOutputAside();
  void GiveOutputBack();

  // Runs the view on the calling thread until q (or ":quit"), the end of
  // the poll thread, or SIGINT, SIGTERM or SIGHUP, and gives the terminal
  // back as it was (standard output stays set aside, as said above).
  // Returns the exit status: 0 after q, 1 when the poll thread ended or the
  // terminal could not be taken (one line on standard error). A lost
  // connection does not end the view (the poll thread goes on looking for
  // the unit); Run's caller makes a q during it a 1. On a signal the
  // program's signal thread ends the program with 128 + the signal once the
  // view's stop step has had the terminal given back (128 + the signal is
  // returned here only when no such thread takes the signals).
  int Run();

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
  // The view's stop step, on the program's signal thread: asks the drawing
  // thread to give the terminal back and waits for that a moment.
  void StopOnSignal();

  // --- Worker thread -----------------------------------------------------------
  void Submit(const Job& _Job);
  void WorkerLoop();
  void RunJob(const Job& _Job);

  FrontEnd* m_pFrontEnd;
  ScreenState m_State;
  ScreenTerminal m_Terminal;

  std::mutex m_JobMutex;
  std::deque<Job> m_dequeJobs;
  std::condition_variable m_JobReady;
  bool m_bWorkerQuit = false;
  bool m_bWorkerEnded = false;  // set by the worker as it returns
  std::condition_variable m_WorkerEnded;
  std::thread m_Worker;

  // The drawing thread's own: the view ends with m_iStatus when m_bEnd.
  bool m_bDirty = true;
  bool m_bEnd = false;
  int m_iStatus = 0;
  bool m_bClearNext = true;
  // Drawing thread: the device whose history the detail page shows, and
  // when it was read.
  void ReadDetailHistory(int iWidth, int iHeight);
  static constexpr int64_t kHistoryRereadMs = 5000;
  int m_iHistoryID = 0;
  int64_t m_tHistoryReadMs = 0;
  int64_t m_tLastFrameMs = 0;
  // True while the terminal is the view's; the stop step waits on
  // m_GivenBack (under m_EndMutex) for it to become false.
  bool m_bTerminalTaken = false;
  std::mutex m_EndMutex;
  std::condition_variable m_GivenBack;
};

#endif  // VERU_CONSOLE_SCREEN_SCREEN_H
