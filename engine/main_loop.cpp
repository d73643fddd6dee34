// The poll thread: start-up, the main loop and reconnecting.
//
// Everything here but Start runs on the poll thread. The current unit is read
// through CurrentEngine() at every use and its fields only under *m_pMutex,
// in short sections that never span a request, a sleep or a hook; the loop's
// own counters (m_iNoResponseCount, m_iRetryCount, m_tFirstNoResponse,
// m_iMinimumDelay) belong to the poll thread alone.
#include <json-c/json.h>

#include <cstdio>

#include "console/front_end.h"
#include "engine/clock.h"
#include "engine/poll_loop.h"

namespace Veru {

namespace {

constexpr int kCredentialsWaitMs = 500;
constexpr int kPauseWaitMs = 1000;
constexpr int kFailureWaitMs = 2000;
// The loop never starts two fetches closer together than this, whatever
// state it is in.
constexpr int kFetchSpacingMs = 1000;
// A run of failed polls ends after more than this many failures ...
constexpr int kFailuresPerRun = 3;
// ... that span more than this many seconds.
constexpr int64_t kFailureRunSeconds = 60;
// Reconnects allowed without a good poll in between.
constexpr int kMaxRetries = 3;

// Keeps the loop's fetches at least kFetchSpacingMs apart, measured on the
// clock seam. Poll thread only.
class FetchPacer {
 public:
  // Sleeps what is left of the spacing since the last fetch started (less
  // when bQuit is set meanwhile). True when it slept: the caller tests its
  // flags again before fetching.
  bool Wait(const std::atomic<bool>& bQuit) {
    if (m_iLastStartMs < 0) return false;
    int64_t iLeftMs = m_iLastStartMs + kFetchSpacingMs - NowMs();
    if (iLeftMs <= 0) return false;
    SleepUnless(static_cast<int>(iLeftMs), bQuit);
    return true;
  }
  // A fetch starts now.
  void Mark() { m_iLastStartMs = NowMs(); }

 private:
  int64_t m_iLastStartMs = -1;
};

// A unit reached locally needs no account credentials, so a refusal of them
// no longer stands. Lock held.
void SwitchToLocal(Engine* pEngine) {
  pEngine->m_bUsingRemote = false;
  pEngine->m_bInvalidUserPass = false;
}

// Sets the current unit's m_bUsingRemote, if there is a current unit.
void SetUsingRemote(PollLoop* pPollLoop, bool bUsingRemote) {
  MutexHolder _Lock(pPollLoop->m_pMutex);
  Engine* pEngine = pPollLoop->CurrentEngine();
  if (pEngine == nullptr) return;
  if (bUsingRemote) {
    pEngine->m_bUsingRemote = true;
  } else {
    SwitchToLocal(pEngine);
  }
}

// Chooses local or remote access once, before the first poll: the unit's
// mode forces it, and in automatic mode a remote unit that the locator finds
// on the home network is reached locally. Nothing happens without a unit.
void SettleAccessMode(PollLoop* pPollLoop, FetchPacer* pPacer) {
  Engine _Engine;
  if (!pPollLoop->CopyEngine(&_Engine)) return;
  if (_Engine.m_bUsingRemote && _Engine.m_sMode == "L") {
    SetUsingRemote(pPollLoop, false);
  } else if (!_Engine.m_bUsingRemote && _Engine.m_sMode == "R") {
    SetUsingRemote(pPollLoop, true);
  } else if (_Engine.m_bUsingRemote && _Engine.m_sMode == "A") {
    pPacer->Mark();
    if (pPollLoop->Locate(_Engine.m_sUsername) != 0) return;
    MutexHolder _Lock(pPollLoop->m_pMutex);
    Engine* pEngine = pPollLoop->CurrentEngine();
    if (pEngine != nullptr && pEngine->m_bLocalAvailable) {
      SwitchToLocal(pEngine);
    }
  }
}

// Without a current unit (the wizard may leave none) nothing can be polled:
// waits as while paused until a unit is set or a stop is requested. False
// when the loop is to end.
bool WaitForEngine(PollLoop* pPollLoop) {
  if (pPollLoop->CurrentEngine() != nullptr) return true;
  while (pPollLoop->CurrentEngine() == nullptr && !pPollLoop->m_bQuit) {
    SleepUnless(kPauseWaitMs, pPollLoop->m_bQuit);
  }
  return !pPollLoop->m_bQuit;
}

// True while the remote path lacks usable credentials. Takes the lock.
bool CredentialsMissing(PollLoop* pPollLoop) {
  MutexHolder _Lock(pPollLoop->m_pMutex);
  Engine* pEngine = pPollLoop->CurrentEngine();
  if (pEngine == nullptr) return false;
  return pEngine->m_bUsingRemote &&
         (pEngine->m_bInvalidUserPass || pEngine->m_sPassword.empty());
}

enum class CredentialsNeed { kNone, kPassword, kUserPassword };

// Decides, in one locked section, whether credentials must be asked for:
// only while the unit is reached remotely. A refused password is emptied
// here, so the console asks for a new one; a refusal left on a unit that is
// now reached locally is dropped.
CredentialsNeed TakeCredentialsNeed(PollLoop* pPollLoop) {
  MutexHolder _Lock(pPollLoop->m_pMutex);
  Engine* pEngine = pPollLoop->CurrentEngine();
  if (pEngine == nullptr) return CredentialsNeed::kNone;
  if (!pEngine->m_bUsingRemote) {
    pEngine->m_bInvalidUserPass = false;
    return CredentialsNeed::kNone;
  }
  if (pEngine->m_bInvalidUserPass) {
    pEngine->m_sPassword.clear();
    return CredentialsNeed::kUserPassword;
  }
  if (pEngine->m_sPassword.empty()) return CredentialsNeed::kPassword;
  return CredentialsNeed::kNone;
}

// Asks the console for credentials when they are missing or were refused,
// then waits until they are usable or polling is paused. False when a stop
// was requested meanwhile (the loop ends without a message).
bool WaitForCredentials(PollLoop* pPollLoop) {
  CredentialsNeed iNeed = TakeCredentialsNeed(pPollLoop);
  if (iNeed == CredentialsNeed::kNone) return true;
  if (iNeed == CredentialsNeed::kUserPassword) {
    pPollLoop->m_pFrontEnd->OnUserPasswordNeeded();
  } else {
    pPollLoop->m_pFrontEnd->OnPasswordNeeded();
  }
  for (;;) {
    if (pPollLoop->m_bSuspended) return true;
    if (!CredentialsMissing(pPollLoop)) return true;
    if (pPollLoop->m_bQuit) return false;
    SleepUnless(kCredentialsWaitMs, pPollLoop->m_bQuit);
  }
}

// Sleeps while polling is paused. False when a stop was requested (the loop
// ends without a message).
bool WaitWhilePaused(PollLoop* pPollLoop) {
  while (pPollLoop->m_bSuspended && !pPollLoop->m_bQuit) {
    SleepUnless(kPauseWaitMs, pPollLoop->m_bQuit);
  }
  return !pPollLoop->m_bQuit;
}

// A reply came: the run of failures and the reconnects are over.
void OnGoodPoll(PollLoop* pPollLoop, json_object* p_json_object) {
  pPollLoop->m_iNoResponseCount = 0;
  pPollLoop->m_iRetryCount = 0;
  pPollLoop->m_tFirstNoResponse = 0;
  pPollLoop->ParseStatus(p_json_object);
  pPollLoop->m_iMinimumDelay = kMinimumDelayMs;
}

// Marks the lost contact, and reports it only when the state changes.
void MarkNoContact(PollLoop* pPollLoop) {
  {
    MutexHolder _Lock(pPollLoop->m_pMutex);
    if (pPollLoop->m_iState == -2) return;
    pPollLoop->m_iState = -2;
  }
  pPollLoop->m_pFrontEnd->OnEngineState();
}

// A failed poll that is not counted: the unit refused the credentials of
// the remote path (the credentials step asks for new ones), or there is no
// unit any more (the loop waits for one).
bool FailureNotCounted(PollLoop* pPollLoop) {
  MutexHolder _Lock(pPollLoop->m_pMutex);
  Engine* pEngine = pPollLoop->CurrentEngine();
  return pEngine == nullptr ||
         (pEngine->m_bUsingRemote && pEngine->m_bInvalidUserPass);
}

// The wait after every failed poll (cut short by a stop request); the next
// request asks the unit to answer without delay.
void WaitAfterFailure(PollLoop* pPollLoop) {
  SleepUnless(kFailureWaitMs, pPollLoop->m_bQuit);
  pPollLoop->m_iMinimumDelay = 0;
}

void GiveUp(PollLoop* pPollLoop) {
  pPollLoop->m_pFrontEnd->OnUnableToConnect();
  pPollLoop->m_pFrontEnd->OnConnectionLost();
}

// The end of a run of failures: re-locate the unit, at most kMaxRetries
// times without a good poll. False when the connection is given up.
bool EndFailureRun(PollLoop* pPollLoop, FetchPacer* pPacer) {
  pPollLoop->m_iNoResponseCount = 0;
  pPollLoop->m_tFirstNoResponse = 0;
  if (pPollLoop->m_iRetryCount >= kMaxRetries) {
    GiveUp(pPollLoop);
    return false;
  }
  // The locator requests of Reconnect are fetches of the loop too.
  pPacer->Wait(pPollLoop->m_bQuit);
  pPacer->Mark();
  bool bGoOn = pPollLoop->Reconnect();
  // A stop during the locator requests ended them: that is no lost unit.
  if (pPollLoop->m_bQuit) return true;
  if (!bGoOn) {
    GiveUp(pPollLoop);
    return false;
  }
  ++pPollLoop->m_iRetryCount;
  pPollLoop->m_pFrontEnd->OnConnectionRetry();
  return true;
}

// Counts a failed poll and decides how to go on. False when the connection
// is given up.
bool OnFailedPoll(PollLoop* pPollLoop, FetchPacer* pPacer) {
  MarkNoContact(pPollLoop);
  if (FailureNotCounted(pPollLoop)) {
    WaitAfterFailure(pPollLoop);
    return true;
  }
  int64_t tNow = Now();
  if (pPollLoop->m_tFirstNoResponse == 0) pPollLoop->m_tFirstNoResponse = tNow;
  ++pPollLoop->m_iNoResponseCount;
  int64_t tElapsed = tNow - pPollLoop->m_tFirstNoResponse;
  pPollLoop->m_pFrontEnd->OnNoResponse(pPollLoop->m_iNoResponseCount, tElapsed);
  if (pPollLoop->m_iNoResponseCount > kFailuresPerRun &&
      tElapsed > kFailureRunSeconds) {
    return EndFailureRun(pPollLoop, pPacer);
  }
  WaitAfterFailure(pPollLoop);
  return true;
}

}  // namespace

pthread_t PollLoop::Start() {
  if (CurrentEngine() == nullptr) return 0;
  m_bRunning = true;
  pthread_t hThread;
  if (pthread_create(&hThread, nullptr, &ThreadEntry, this) != 0) {
    m_bRunning = false;
    return 0;
  }
  // Nobody joins the poll thread (the front end watches m_bRunning), so it
  // gives its resources back by itself when it ends.
  pthread_detach(hThread);
  return hThread;
}

void* PollLoop::ThreadEntry(void* pArg) {
  PollLoop* pPollLoop = static_cast<PollLoop*>(pArg);
  pPollLoop->MainLoop();
  pPollLoop->m_bRunning = false;
  return nullptr;
}

void PollLoop::MainLoop() {
  FetchPacer _Pacer;
  SettleAccessMode(this, &_Pacer);
  for (;;) {
    if (m_bQuit) {
      printf("MainLoop exiting\n");
      return;
    }
    if (!WaitForEngine(this)) return;
    if (!WaitForCredentials(this)) return;
    if (!WaitWhilePaused(this)) return;
    // Too soon after the last fetch (a reply that came at once, a refusal
    // answered at once): wait the rest, then look at the flags again.
    if (_Pacer.Wait(m_bQuit)) continue;
    _Pacer.Mark();
    json_object* p_json_object = GetStatus();
    if (p_json_object != nullptr) {
      OnGoodPoll(this, p_json_object);
    } else if (m_bQuit) {
      // A stop ends the fetch in flight: not a failed poll of the unit.
      continue;
    } else if (!OnFailedPoll(this, &_Pacer)) {
      return;
    }
  }
}

bool PollLoop::Reconnect() {
  Engine _Before;
  if (!CopyEngine(&_Before)) return false;
  Locate(_Before.m_sUsername);  // its result is not needed: the unit is compared

  MutexHolder _Lock(m_pMutex);
  Engine* pEngine = CurrentEngine();
  if (pEngine == nullptr) return false;
  if (!pEngine->m_bUsingRemote) {
    // The unit moved on the home network: poll it at its new address.
    if (pEngine->m_sIp != _Before.m_sIp) return true;
    if (pEngine->m_sMode != "L" && pEngine->m_bRemoteAvailable) {
      pEngine->m_bUsingRemote = true;
      return true;
    }
    return false;
  }
  // The unit is attached to another forward server.
  if (pEngine->m_sFwdActive != _Before.m_sFwdActive) return true;
  if (pEngine->m_sMode != "R" && pEngine->m_bLocalAvailable) {
    SwitchToLocal(pEngine);
    return true;
  }
  return false;
}

}  // namespace Veru
