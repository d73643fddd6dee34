// The end of the program, however it comes: "quit", the end of input, the
// end of --once or --do, or a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT).
//
// A signal ends the program through its stop steps: each part of the
// program that leaves something behind when it ends in the middle (the front
// end's fetches in flight and its settings save, a terminal whose echo is
// off, a full-screen view) adds a step that puts it right. On a signal the
// steps run, last added first, on a thread of their own, and the program ends
// with status 128 + the signal. A signal ignored when the program started
// stays ignored (nohup) and runs nothing.
//
// Threads: StartSignalThread is called by main before any other thread
//   starts; the others may be called from any thread. A step runs on the
//   signal thread while the other threads go on: it must not wait for the
//   console or the poll thread to do anything. The registry has a lock of
//   its own, not held while a step runs.
//
// ----------------------------------------------------------------------------
// The program's threads and locks: the one list. Other headers say which of
// these threads may call what they declare.
//
// Threads
//   console  main, then FrontEnd::Run: the setting files, the connection
//            wizard and the password prompt, the command loop (HandleCommand,
//            RunCommand), --do (no other thread but the signal thread runs
//            then), the wait of --once, StopEngine. With --screen it is the
//            view's drawing thread instead of the command loop: it alone
//            calls the terminal, reads the keys, and runs the wizard and the
//            password prompt itself.
//   poll     PollLoop::MainLoop, started by PollLoop::Start (detached;
//            m_bRunning tells when it has ended): every status request, every
//            merge, the locator rounds, and every On* hook of the front end,
//            so every Report of the model and the connection.
//   signal   started by StartSignalThread before any other thread: waits for
//            SIGINT, SIGTERM, SIGHUP and SIGQUIT, runs the stop steps, ends
//            the program with 128 + the signal.
//   worker   --screen only, the view's worker (started and joined by
//            Screen::Run): runs the view's commands through
//            FrontEnd::RunCommand, one at a time, so their requests, their
//            Result, Help and Notice reports and "show" come from it.
//   listener one per listener added to the report fan-out
//            (ReportFanOut::AddListener, before the poll thread starts):
//            runs the listener's OnReport on the copies of the reports, in
//            order, and its OnStop; StopEngine ends them, and on a signal
//            the front end's stop step gives them two seconds to end. The history
//            recorder's is the only thread that writes the history file.
//   mqtt     --mqtt only, two threads of the bridge (console/mqtt/): the
//            broker connection (MqttClient: mosquitto_loop, connecting
//            again, the callbacks that publish every state again and hand
//            messages on), and the commands from the broker (MqttCommands:
//            FrontEnd::ReadCommand and RunCommand, one at a time). Both are
//            ended by the bridge's OnStop on its listener thread.
//   Every fetch also runs wget as a child process, waited for by the thread
//   that started it.
//
// Locks, in the order they may be taken: while holding one, a thread may
// take only a lock further down the list. Only the save lock and the model
// lock are ever held while another is taken; each lock after them is taken
// last, with nothing taken under it.
//   save lock       settings.cpp, g_SaveMutex: one save of the setting files
//                   at a time. SaveSettings takes it, then the model lock
//                   for a copy of the unit. The front end's stop step takes
//                   it last and keeps it, so the program ends between saves.
//   model lock      FrontEnd::ModelMutex() (PollLoop::m_pMutex): the model
//                   maps, the unit list, every field of the unit records,
//                   and the controller's status fields a merge writes. Never
//                   held across a request, a sleep or a wait for another
//                   thread, never taken twice by one thread (the hooks and
//                   Report methods called in a merge do not take it).
//   view state      Screen::m_Mutex: the view's copy of the home, what it
//                   shows (selection, filter, message, connection words) and
//                   the worker's job queue. The poll thread's reports take it
//                   inside a merge, the model lock held; no thread takes the
//                   model lock while holding it.
//   fan-out queues  ReportFanOut::m_Mutex: the listeners' queues of report
//                   copies. Taken by whichever thread reports, the model
//                   lock held or not; the form is called outside it.
//   view end        Screen::m_EndMutex: whether the terminal is the view's;
//                   the view's stop step waits under it (m_GivenBack) for the
//                   drawing thread to give the terminal back.
//   bridge          MqttBridge::m_Mutex: the parts of the bridge made when
//                   its base is known. Its listener thread holds it while
//                   reporting to the retained states and while OnStop joins
//                   the bridge's threads, which never take it.
//   retained        MqttRetained::m_Mutex: the latest retained state of
//                   every topic; held while publishing (libmosquitto's
//                   queue locks are taken under it, and only they). The
//                   connection thread takes it inside libmosquitto's
//                   callbacks, whose lock no publish takes.
//   mqtt queues     MqttCommands::m_Mutex (the commands waiting) and
//                   MqttClient::m_PauseMutex (the pause between connections).
//   fetch registry  transport.cpp, g_FetchMutex: the fetches in flight (their
//                   wget and reply file) and whether fetches were stopped.
//   stop steps      program_end.cpp, g_StepMutex: the list of stop steps; not
//                   held while a step runs.
//   The history file's own locks (SQLite's, on the file) are no lock of the
//   program's: the recorder and each reader (the history command, the
//   view's detail page) have connections of their own and wait for each
//   other (a busy timeout), holding none of the locks above meanwhile.
//
// Shared without a lock (atomics): PollLoop::m_bQuit, set by whichever thread
// ends polling (the console thread in StopEngine, the --once report on the
// poll thread, the front end's stop step on the signal thread) and never
// cleared; PollLoop::m_bSuspended, written by "suspend" and "resume" (on the
// console thread or the view's worker) and around the wizard; m_bRunning
// and the outage flags, written by the poll thread; the front end's current
// unit (CurrentEngine), its routing flags (CredentialRequested) and
// ConnectionLost.
// ----------------------------------------------------------------------------
#ifndef VERU_CONSOLE_PROGRAM_END_H
#define VERU_CONSOLE_PROGRAM_END_H

#include <functional>

// Blocks the four signals (those not ignored at start) in the calling
// thread, so every thread started afterwards has them blocked too, and
// starts the thread that waits for them. False when that thread could not
// be started: the signals are then left as they were.
bool StartSignalThread();

// Adds a step; returns its number for RemoveStopStep.
int AddStopStep(std::function<void()> fStep);
// Takes the step out; a step already running on the signal thread finishes.
void RemoveStopStep(int iStep);

// Runs every step added, last added first, once: later calls run nothing.
void RunStopSteps();

#endif  // VERU_CONSOLE_PROGRAM_END_H
