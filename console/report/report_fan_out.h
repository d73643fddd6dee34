// ReportFanOut is the front end's one Report when anything listens beside
// the form the user chose: it passes every report to that form at once, on
// the reporting thread, exactly as the form alone would get it, and hands a
// copy of it (a ReportEvent) to each listener's queue. Every listener gets
// every report, in the same order as the form and as each other.
//
// What a listener may cost the reporting thread: the copy only. Device and
// Scene run inside a merge with the model lock held; the fan-out copies the
// record and returns, so a merge never waits for a listener's disk or
// network. A full report copies the home once for all listeners, and only
// when there is a listener. The queues are not bounded: a listener that
// falls behind keeps events in memory until it catches up (each listener
// keeps what it needs of the latest state, so none should stay behind for
// long).
//
// Threads: the Report operations may be called from any thread, as Report
// says (the poll thread, the console thread, the view's worker); each
// listener has a thread of its own, started by AddListener and ended by
// Stop. Lock: m_Mutex guards the queues; it is a leaf lock, taken with or
// without the model lock held, and no other lock is taken under it.
// Ownership: owns the form and the listeners.
#ifndef VERU_CONSOLE_REPORT_REPORT_FAN_OUT_H
#define VERU_CONSOLE_REPORT_REPORT_FAN_OUT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "console/report/report.h"
#include "console/report/report_event.h"
#include "console/report/report_listener.h"

namespace Veru {
class Engine;
}

class ReportFanOut : public Report {
 public:
  // pForm: the form the user chose (may be null: listeners only). pEngine:
  // where the current unit is found, to tell each event's serial number
  // (may be null: serial number 0).
  ReportFanOut(std::unique_ptr<Report> pForm,
               const std::atomic<Veru::Engine*>* pEngine);
  // Stops (see Stop) if that was not done.
  ~ReportFanOut() override;

  // Starts pListener's thread; it gets every report made from now on. Call
  // before the reports start (the poll thread), from the thread that made
  // the fan-out.
  void AddListener(std::unique_ptr<ReportListener> pListener);
  // Gives each listener what was reported so far, then OnStop, and ends the
  // listeners' threads. Reports made afterwards go to the form only. A
  // second call does nothing more.
  void Stop();
  // The same end for a signal, which cannot wait for long: the listeners
  // are given what was reported and their OnStop, and this waits at most
  // tLimit for them (their threads are joined only when all ended in
  // time). True when every listener ended in time. Any thread but a
  // listener's; the program ends right after.
  bool StopWithin(std::chrono::milliseconds tLimit);

  Report* Form() const { return m_pForm.get(); }

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
  void Refused(const std::string& sCommand,
               const std::string& sReason) override;
  void Help() override;
  void Notice(const std::string& sText) override;
  void History(const HistoryAnswer& _Answer) override;

 private:
  struct Channel {
    std::unique_ptr<ReportListener> m_pListener;
    std::deque<std::shared_ptr<const ReportEvent>> m_queEvents;
    std::thread m_Thread;
    bool m_bDone = false;  // OnStop has returned
  };

  bool Listened() const { return m_bListened.load(); }
  // An event of kind iKind stamped with the time and the unit; a report of
  // the model (bModel) reads the unit's serial number anew.
  ReportEvent NewEvent(ReportEvent::Kind iKind, bool bModel = false);
  // Queues one copy of _Event for every listener.
  void Publish(ReportEvent&& _Event);
  void Deliver(Channel* pChannel);

  std::unique_ptr<Report> m_pForm;
  const std::atomic<Veru::Engine*>* m_pEngine;
  // True between the first AddListener and Stop: false costs no copy.
  std::atomic<bool> m_bListened{false};
  // The current unit's serial number as the last report of the model found
  // it (those run on the poll thread or under the model lock, where the
  // unit's fields may be read); the other reports are stamped with it.
  std::atomic<int> m_iSerialNumber{0};

  std::mutex m_Mutex;
  std::condition_variable m_Wake;
  bool m_bStopping = false;
  std::condition_variable m_Done;  // a listener's OnStop returned
  // Held while the listeners' threads are joined (Stop, StopWithin), so
  // that no thread is joined twice.
  std::mutex m_JoinMutex;
  std::vector<std::unique_ptr<Channel>> m_vecChannel;
};

#endif  // VERU_CONSOLE_REPORT_REPORT_FAN_OUT_H
