// PollLoop keeps the current unit's home model up to date by long polling.
//
// Threads (the program's threads and locks are listed in
//   console/program_end.h): MainLoop (and GetStatus, ParseStatus, Reconnect)
//   runs on the poll thread; RunAction and the camera requests run on the
//   thread that runs a command (the console thread, or the full-screen
//   view's worker), the wizard's Locate on the console thread. --do starts
//   no poll thread: its GetStatus and device merge run on the console
//   thread. m_bQuit, m_bRunning and m_bSuspended are atomics; see the fields
//   for who writes them.
// Lock: *m_pMutex (owned by FrontEnd; may be null, then nothing is locked)
//   guards the model maps, the unit list and every field of the unit
//   records. It is never held across a request or a sleep, and never taken
//   twice by one thread: the printing hooks called during a merge must not
//   lock it. Values the other thread may write are copied under the lock
//   first (CopyEngine).
// Ownership: each map owns its records and the destructor deletes them.
//   The front end that made this PollLoop outlives it and is never null.
//   The current unit is reached only through the front end's m_pEngine,
//   read anew at every use; nothing here frees the FrontEnd or the mutex.
#ifndef VERU_ENGINE_POLL_LOOP_H
#define VERU_ENGINE_POLL_LOOP_H

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "engine/model.h"

struct json_object;
class FrontEnd;

namespace Veru {

class DataBlock;

// The minimumdelay (ms) a status request asks of the controller: at start
// and after every merged reply.
constexpr int kMinimumDelayMs = 2000;

class PollLoop {
 public:
  // Stores the mutex (may be null) and the owning front end (not null);
  // every other field starts at its initial value and no thread runs.
  PollLoop(pthread_mutex_t* pMutex, FrontEnd* pFrontEnd);
  virtual ~PollLoop();
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  // --- Poll thread and main loop -----------------------------------------
  // Starts the poll thread, detached: nobody joins it, and m_bRunning tells
  // when it has ended. Returns non-zero when it was started (the id of a
  // thread that may already have ended, good only as a yes), or 0 when there
  // is no current unit or no thread could be made (m_bRunning then stays
  // false).
  pthread_t Start();
  // Polls until a stop is requested. When the connection is given up
  // ("Unable to connect." and OnConnectionLost, once) it goes on looking for
  // the unit in rounds, 5 s apart and then up to 60 s, each asking the
  // locator and polling every way the unit's mode allows, until a poll
  // answers (OnConnectionRestored) -- unless that report stopped it (--once).
  // In automatic mode, reached remotely, it tries the unit's local address
  // every 5 minutes and goes back to local access when it answers. In no
  // state does it start two fetches less than a second apart.
  void MainLoop();
  // After a run of failed polls: asks the locator again and decides how to go
  // on. True when polling continues (perhaps the other way), false when the
  // unit cannot be reached any more.
  bool Reconnect();

  // --- Request transport ---------------------------------------------------
  // The current unit's base URL: "http://IP:3480/" locally,
  // "https://FWD/USER/PASS/SERIAL/" remotely (USER and PASS percent-encoded,
  // see FormatRemoteBaseURL); empty when there is no current
  // unit or the URL would not fit its 500-byte buffer.
  std::string GetBaseURL();
  // Sends GetBaseURL() + sPath, retrying once a second within iRetryWindow
  // seconds (0: one attempt) while attempts fail or bring an empty reply.
  // On a reply, parses it into *pp_json_object when that is not null: the
  // JSON literal null gives 0 and no object; text that is not JSON gives -1
  // at once and stays in *pDataBlock. Returns 0 or -1. The caller owns the
  // parsed reply and releases it with json_object_put. A request that cannot
  // be sent (an empty path, no current unit, a URL longer than 499
  // characters) is refused at once with -1, nothing run and no retry.
  int Request(std::string sPath, DataBlock* pDataBlock,
              json_object** pp_json_object, int iRetryWindow);

  // --- Status polling and merging ------------------------------------------
  // Sends one status request. Returns the parsed reply, a JSON object (the
  // caller owns it), or null for a failed poll (no reply, not JSON, or JSON
  // that is not an object); a refusal of the credentials marks the current
  // unit's m_bInvalidUserPass.
  json_object* GetStatus();
  // Merges a reply (null is ignored) under the lock, reports what changed,
  // and releases the reply.
  void ParseStatus(json_object* p_json_object);
  // The merge's steps for one reply member each, called by ParseStatus;
  // public for the tests that give them values a reply would not hold.
  // Lock held. bNotify: print each record.
  void ParseSections(json_object* p_json_object);
  void ParseRooms(json_object* p_json_object);
  void ParseCategories(json_object* p_json_object);
  void ParseScenes(json_object* p_json_object, bool bNotify);
  void ParseDevices(json_object* p_json_object, bool bNotify);

  // --- Home model ----------------------------------------------------------
  // The device with that id, or null. Never inserts.
  Device* FindDevice(int iID);
  // A copy of the current unit's fields taken under the lock; false (and
  // _Engine untouched) when there is no current unit.
  bool CopyEngine(Engine* p_Engine);

  // --- Locator service -----------------------------------------------------
  // Asks the main, then the backup locator server for the account's units
  // and rebuilds m_mapEngine. 0 when a reply with a "units" array was
  // merged, -1 otherwise.
  int Locate(std::string sUsername);
  // Rebuilds m_mapEngine from a parsed locator document (borrowed). Takes
  // the lock. 0, or -1 when the document has no "units" array.
  int ParseUnits(json_object* p_json_object, const std::string& sUsername);

  // --- Device actions ------------------------------------------------------
  // Asks the controller to run an action. 0 done, a job number, or -1; an
  // "ERROR:" reply also puts the controller's text into sMessage. On any
  // other -1, *pReason (when not null) says in a few words why: the request
  // too long to send, no answer, the credentials refused, an answer that
  // could not be read or that names neither done nor a job.
  int RunAction(int iDevice, std::string sServiceId, std::string sAction,
                std::string sArguments, int iRetryWindow,
                std::string& sMessage, std::string* pReason = nullptr);

  // --- Camera URLs ---------------------------------------------------------
  // The URL of one still image of the device; sends nothing. Empty only
  // when there is no current unit (or its base URL does not fit).
  std::string GetCameraImageURL(int iDevice);
  // The device's stream URL, or empty with sType "bad_device",
  // "not_supported" or "failed". Remotely sType becomes the controller's
  // "status"; locally it is not written. Copies the device's variables
  // under the lock; takes no lock across the remote request.
  std::string GetCameraStreamURL(int iDevice, std::string& sType);

  // The current unit (the front end's m_pEngine), read anew; may be null.
  Engine* CurrentEngine() const;

  // Set at construction, never changed: the owning front end (never null;
  // its hooks are called without a check) and its mutex (may be null, then
  // nothing is locked).
  FrontEnd* m_pFrontEnd;
  pthread_mutex_t* m_pMutex;

  // The request's fields and the controller's status: written by the poll
  // thread alone, under *m_pMutex, and read by it without the lock; every
  // other thread reads them under *m_pMutex ("show" reports the status).
  int m_iLoadTime;
  int m_iDataVersion;
  int m_iState;  // -2: no contact
  std::string m_sComment;
  std::string m_sVersion;
  std::string m_sModel;
  bool m_bZWaveHeal;
  // Poll thread only (with --do, which starts none, the console thread):
  // the main loop's counters.
  int m_iMinimumDelay;
  int m_iNoResponseCount;
  int m_iRetryCount;
  int m_iTimeout;
  int64_t m_tFirstNoResponse;
  // After the connection was given up ("Unable to connect."), the loop goes
  // on looking for the unit in rounds (m_bGivenUp, below), with a pause
  // before each that grows from round to round. m_tNoAnswerSince: the time
  // of the first failed poll since the last good one (0 while the unit
  // answers). m_tLastLocalProbe: automatic mode reached remotely, the last
  // try of the local address (0 when none is due).
  int m_iOutagePauseMs;
  int64_t m_tNoAnswerSince;
  int64_t m_tLastLocalProbe;

  // Guarded by *m_pMutex: the unit list and the five model maps, with every
  // record in them and every field of the current unit.
  std::map<int, Engine*> m_mapEngine;
  std::map<int, Device*> m_mapDevice;
  std::map<int, Scene*> m_mapScene;
  std::map<int, Section*> m_mapSection;
  std::map<int, Room*> m_mapRoom;
  std::map<int, Category*> m_mapCategory;

  // m_bQuit: a stop is requested. Set, never cleared, by whichever thread
  // ends polling: the console thread (StopEngine), the --once report on the
  // poll thread, the front end's stop step on the signal thread.
  std::atomic<bool> m_bQuit;
  // Written by the poll thread alone: it runs.
  std::atomic<bool> m_bRunning;
  // Polling is paused. Written by "suspend" and "resume" (on the console
  // thread or the full-screen view's worker) and by the wizard, which
  // pauses polling while it asks and puts the flag back after.
  std::atomic<bool> m_bSuspended;
  // Written by the poll thread, read by the console thread: a poll has
  // failed since the last good one (the unit does not answer).
  std::atomic<bool> m_bNoAnswer;
  // Written by the poll thread, read by any: the connection was given up and
  // no poll has answered since.
  std::atomic<bool> m_bGivenUp;
  // Written by the threads that run commands (CommandHolder), read by the
  // poll thread: the device and camera requests in flight.
  std::atomic<int> m_iCommandsRunning;

  // The retry window (seconds) a device command is to use: iUsual, or 0 (one
  // attempt) while the unit does not answer, so a command never holds the
  // console for long during an outage. Any thread.
  int ActionRetryWindow(int iUsual) const { return m_bNoAnswer ? 0 : iUsual; }

  // Written once by the console thread before the requests it bounds (--do,
  // --once), read by any: the steady-clock time (NowMs) by which every
  // request must have ended; 0: none. Past it Request sends nothing, and a
  // fetch's time limit never reaches beyond it.
  std::atomic<int64_t> m_iDeadlineMs;
  // Written once by the console thread before --do sends anything: while
  // the unit does not answer, a request that retries says so once on
  // standard error and its retries print no "GET:" lines.
  std::atomic<bool> m_bQuietRetries;
  // True once m_iDeadlineMs is set and has passed. Any thread.
  bool PastDeadline() const;
  // The time limit, in seconds, of the next fetch: the transport's, or less
  // when the deadline is nearer (at least 1). Any thread.
  int FetchTimeLimit() const;

 private:
  // Start routine of the poll thread; pArg is the PollLoop. Returns null.
  static void* ThreadEntry(void* pArg);
  // Deletes every section, room, category, scene and device. Lock held.
  void ClearData();
  // Deletes every unit record but the current one, which is put back under
  // its serial number. Lock held.
  void ClearEngines();
};

// Counts one device or camera request in flight for one scope, so the poll
// thread sends no extra request meanwhile.
class CommandHolder {
 public:
  explicit CommandHolder(PollLoop* pPollLoop) : m_pPollLoop(pPollLoop) {
    ++m_pPollLoop->m_iCommandsRunning;
  }
  ~CommandHolder() { --m_pPollLoop->m_iCommandsRunning; }
  CommandHolder(const CommandHolder&) = delete;
  CommandHolder& operator=(const CommandHolder&) = delete;

 private:
  PollLoop* m_pPollLoop;
};

// Holds a possibly null mutex for one scope.
class MutexHolder {
 public:
  explicit MutexHolder(pthread_mutex_t* pMutex) : m_pMutex(pMutex) {
    if (m_pMutex != nullptr) pthread_mutex_lock(m_pMutex);
  }
  ~MutexHolder() {
    if (m_pMutex != nullptr) pthread_mutex_unlock(m_pMutex);
  }
  MutexHolder(const MutexHolder&) = delete;
  MutexHolder& operator=(const MutexHolder&) = delete;

 private:
  pthread_mutex_t* m_pMutex;
};

}  // namespace Veru

#endif  // VERU_ENGINE_POLL_LOOP_H
