// FrontEnd is the console: it restores the current unit from the setting
// files (or runs the connection wizard), owns the model mutex, creates and
// starts the engine, reads command lines, and receives the engine's reports
// through its hooks.
//
// Every hook and every command result goes to the one Report (m_pReport,
// see console/report/report.h), whose form Run chooses once from the options
// (ChooseReport): text lines, JSON events, the full-screen view (--screen),
// and for --once the text or JSON form wrapped in a OnceReport; the fan-out
// (m_pFanOut, see console/report/report_fan_out.h) passes each report to
// that form and to every listener. With --once Run ends after the first
// full report and reads no commands. A front end that never ran Run reports
// as text on standard output.
//
// Threads (every thread and lock of the program, and the order of the locks,
//   are listed in console/program_end.h): Run, the wizard, AskPassword, the
//   command loop, HandleCommand and RunDo run on the console (main) thread;
//   with --screen that thread draws the view, which runs the wizard and the
//   password prompt itself, and the view's worker thread runs RunCommand.
//   The engine calls every On* hook on the poll thread: OnDevice and OnScene
//   inside a merge with m_Mutex held, OnEngineState and OnFullData after it
//   without the lock (the poll thread is the model's only writer). "show"
//   (Show) calls the report of the model with m_Mutex held, on the thread
//   that runs the command. So no hook locks m_Mutex. m_pEngine,
//   m_bNeedPassword and m_bNeedUserPassword are atomics shared without the
//   lock; m_pReport is set before the poll thread starts and not changed.
// Ownership: the front end lives for the whole run and never frees the
//   engine, the current unit record or the mutex; it owns its Report.
#ifndef VERU_CONSOLE_FRONT_END_H
#define VERU_CONSOLE_FRONT_END_H

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "console/commands/command_table.h"
#include "console/input/line_input.h"
#include "console/report/report.h"
#include "console/options.h"
#include "engine/model.h"

class OnceReport;
class ReportFanOut;
class Screen;

namespace Veru {
class PollLoop;
}

class FrontEnd {
 public:
  FrontEnd();
  ~FrontEnd();
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // The whole life of the program after start-up, as m_Options asks.
  // Returns the exit status: 0 after "quit" or the end of input, 1 when
  // there was no unit to connect to, the poll thread could not start, the
  // connection was lost, --json cannot take standard output, or --once gets
  // no report (one line on standard error says which). With --screen: 2
  // when the terminal cannot take the view, else what Screen::Run returns.
  int Run();

  // The one choice of the report's form, from m_Options; m_pPollLoop is
  // made already. The forms for scripts (--json, --once, --do) keep standard
  // output for the report alone (SetStandardOutputAside). False, with one
  // line on standard error, when standard output cannot be set aside.
  bool ChooseReport();

  // With --mqtt: adds the MQTT bridge (console/mqtt/mqtt_bridge.h) to the
  // report's listeners, for the current unit. Before the poll thread
  // starts. False, with one line on standard error, when it cannot work.
  bool StartBridge();

  // The end of polling, for the end of the program (Run calls it; so does
  // --do when its commands are done): the poll thread is told to stop, every
  // fetch in flight is ended (its wget stopped, its reply file removed) and
  // no fetch starts any more; returns once the poll thread has ended (within
  // a few tenths of a second) with the passwords masked in the fetcher's log.
  // Console thread, after m_pPollLoop was made; a second call does no harm.
  void StopEngine();

  // --- Setting files -------------------------------------------------------
  // Writes every setting of the current unit; arg_pass only when
  // bSavePassword. All or nothing: when one file cannot be written, none is
  // replaced and the failure is reported on standard error. One save at a
  // time: waits for a save in progress (see settings.h), then copies the
  // unit's fields under m_Mutex. Does nothing without a current unit. Any
  // thread, m_Mutex not held.
  void SaveSettings(bool bSavePassword);

  // --- Connection wizard and password prompt (console thread) -------------
  void ConnectWizard(std::string sUser);
  void AskPassword();

  // --- Command loop (console thread) ---------------------------------------
  // Reads and routes lines until "quit", end of input, or the poll thread
  // has ended.
  void CommandLoop();
  // Runs one line and reports its outcome as the console does: the result
  // line (or the JSON result event), and on standard error why a line is
  // not a command.
  void HandleCommand(const char* cBuffer);
  // Runs one command line (see command_table.h) and gives back what came of
  // it, with what the caller must do next (the wizard, the end): it never
  // runs the wizard itself. Prints only what the command itself prints
  // (show, help), not its result. Console thread, or a thread of the full-screen
  // view that runs commands; never the poll thread. Takes m_Mutex to read
  // device names and the model, never across a request.
  CommandOutcome RunCommand(const std::string& sLine);
  CommandOutcome RunCommand(const CommandLine& _Command);
  // The line read against the table, with the model's device names when it
  // needs them. Takes m_Mutex briefly.
  CommandLine ReadCommand(const std::string& sLine);
  // Which failures get a line of reason on standard error after the
  // result: those the result line does not show (an action that failed
  // without the controller's text: the console), or every one (--do).
  enum class FailureLines { kUnshown, kEvery };
  // Reports an outcome: the result through the report (the reason with it,
  // for the JSON event); on standard error why a line is not a command, and
  // the failures eFailureLines asks for, one line each.
  void ReportCommand(const CommandOutcome& _Outcome, FailureLines eFailureLines);
  // "history [DEVICE] [SPAN]" (sArguments: what follows the word), read
  // from the history file for the current unit and reported; sets
  // pOutcome's error when the file cannot be read or the device is unknown.
  // Takes m_Mutex briefly to read the unit's serial number.
  void RunHistory(const std::string& sArguments, CommandOutcome* pOutcome);
  // The number and name of every device of the model, copied under m_Mutex.
  std::vector<DeviceName> DeviceNames();
  // True when the current unit can be polled as it is: reached locally, or
  // remotely with a password that was not refused. The poll thread waits
  // for exactly this after asking for credentials. Takes m_Mutex.
  bool HasUsableCredentials();
  // The console's line input, reading m_pInput (see line_input.h).
  LineInput& Input();
  // The URL of camera iDevice's still image (eKind kImage) or stream
  // (kStream, with its type) into *pResult, whose kind it sets: the one way
  // the console and the full-screen view ask for them. Sends the stream's
  // request remotely; takes no lock across it.
  void CameraURL(int iDevice, CommandResult::Kind eKind, CommandResult* pResult);
  // "show" (sWhat empty: the whole model as known now) or "show N", the
  // command line sLine. False, after the report's NoSuchDevice, when there
  // is no device N. Takes m_Mutex to report.
  bool Show(const std::string& sLine, const std::string& sWhat);

  // --- --do (console thread) -----------------------------------------------
  // Runs the lines of m_Options.m_vecDo against the current unit, in order,
  // with no poll thread: every line is read first, and a line that is not a
  // command --do runs ends the run with status 2 before anything is sent.
  // Returns 0 when every command succeeded, 1 when one failed or nothing
  // could be sent (the reason on standard error), 2 as said.
  int RunDo();
  // Fills the model's device records (their names) from one status
  // request, printing nothing; for --do, which starts no poll thread. 0, or
  // -1 with *pReason set.
  int LoadDevices(std::string* pReason);

  // --- Model hooks (poll thread) ---------------------------------------------
  void OnDevice(Veru::Device* pDevice);
  void OnScene(Veru::Scene* pScene);
  void OnEngineState();
  void OnFullData();
  // A partial reply that changed no state of the controller.
  void OnPartial(int iDataVersion, int iLoadTime);
  // The full report of the model as it is, for "show": console thread,
  // m_Mutex held.
  void PrintFullData();

  // --- Connection hooks (poll thread) --------------------------------------
  void OnPasswordNeeded();
  void OnUserPasswordNeeded();
  void OnConnectionRetry();
  // The unit cannot be reached any more; OnConnectionLost follows.
  void OnUnableToConnect();
  void OnConnectionLost();
  // A failed poll, counted: iCount failures in a run that began tElapsed
  // seconds ago.
  void OnNoResponse(int iCount, int64_t tElapsed);
  // A poll answered again after an outage of tOutageSeconds.
  void OnConnectionRestored(int64_t tOutageSeconds);

  // --- What other parts need of the front end ----------------------------
  // The current unit: null until the setting files or the wizard gave one.
  // Any thread reads it (the engine through PollLoop::CurrentEngine); its
  // fields are read or written with ModelMutex() held.
  Veru::Engine* CurrentEngine() const { return m_pEngine.load(); }
  // Makes pEngine (or no unit) the current one, its fields filled first:
  // the wizard (on the console thread, or the view's drawing thread, with
  // polling paused) and the test fixtures. A unit from the unit list stays
  // the poll loop's; any other becomes the front end's for the whole run.
  void SetCurrentEngine(Veru::Engine* pEngine) { m_pEngine = pEngine; }
  // The model and the unit list; made before Run starts the poll thread and
  // kept to the end. Any thread.
  Veru::PollLoop* PollLoop() const { return m_pPollLoop; }
  // The model mutex: it guards the model, the unit list and the current
  // unit's fields (see console/program_end.h for the order of the locks).
  // Hold it with Veru::MutexHolder, briefly, never across a request.
  pthread_mutex_t* ModelMutex() { return &m_Mutex; }
  // Stores sPassword as the current unit's password, its refusal cleared,
  // under the model mutex, then saves the settings (arg_pass only when
  // bSavePassword). Does nothing without a current unit. The password
  // prompt and the full-screen view; any thread but the poll thread, the
  // model mutex not held.
  void SetPassword(const std::string& sPassword, bool bSavePassword);

  // The routing flags: a request for credentials from the engine (the
  // hooks OnPasswordNeeded, OnUserPasswordNeeded raise them) routes the
  // console's next line to the password prompt or the wizard. Atomics:
  // any thread.
  enum class Credential { kPassword, kUserPassword };
  bool CredentialRequested(Credential eCredential) const;
  // Raises a flag as its hook does, without reporting: tests.
  void RequestCredential(Credential eCredential);
  // Takes a flag down once its credentials were given (the view, which
  // asks itself).
  void DropCredentialRequest(Credential eCredential);
  // True after the engine gave the connection up, until a poll answers
  // again: the exit status is then 1. Any thread.
  bool ConnectionLost() const { return m_bConnectionLost.load(); }

  // The command-line options: set by main before Run (SetOptions), read
  // on the console thread and by whatever Run starts.
  const ConsoleOptions& Options() const { return m_Options; }
  void SetOptions(const ConsoleOptions& _Options) { m_Options = _Options; }
  // Where lines are read from (standard input unless a test says
  // otherwise): console thread, while no line is being read.
  void SetInput(FILE* pInput) { m_pInput = pInput; }
  // The fan-out that every report goes through, to add a listener to:
  // null until Run chose the report's form (ChooseReport). Listeners are
  // added on the console thread before the poll thread starts.
  ReportFanOut* FanOut() const { return m_pFanOut; }

 private:
  // The wiring fixtures of the tests and of the fuzz targets make the
  // mutex and the poll loop and set the report as Run does.
  friend class WiredFrontEnd;
  friend class FuzzModel;

  pthread_mutex_t m_Mutex;
  std::atomic<Veru::Engine*> m_pEngine;
  Veru::PollLoop* m_pPollLoop;
  std::atomic<bool> m_bNeedPassword;
  std::atomic<bool> m_bNeedUserPassword;
  // Set by OnConnectionLost (the engine gave the connection up), cleared by
  // OnConnectionRestored (a poll answered again): the exit status is 1 while
  // it is set.
  std::atomic<bool> m_bConnectionLost;
  // Where lines are read from; standard input unless a test says otherwise.
  FILE* m_pInput;
  // Reads m_pInput (through Input()); with editing on a terminal for the
  // plain console.
  LineInput m_LineInput;
  // Set by main before Run.
  ConsoleOptions m_Options;
  // Where every report goes: text on standard output until Run chooses.
  std::unique_ptr<Report> m_pReport;
  // With --once: the form inside m_pReport, as Run chose it (for the exit
  // status); null otherwise.
  OnceReport* m_pOnceReport;
  // With --screen: the full-screen view that Run runs instead of the
  // command loop (its report is the form inside m_pReport); null otherwise.
  std::unique_ptr<Screen> m_pScreen;
  // Once Run chose: m_pReport itself, which passes every report to the
  // chosen form and to each listener added to it (see report_fan_out.h).
  ReportFanOut* m_pFanOut;
  // m_pFanOut for the signal thread's stop step, once it is made.
  std::atomic<ReportFanOut*> m_pSignalFanOut{nullptr};
};

#endif  // VERU_CONSOLE_FRONT_END_H
