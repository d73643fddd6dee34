// The poll thread: start-up, the main loop and reconnecting.
//
// Everything here but Start runs on the poll thread. The current unit is read
// through CurrentEngine() at every use and its fields only under *m_pMutex,
// in short sections that never span a request, a sleep or a hook; the loop's
// own counters (m_iNoResponseCount, m_iRetryCount, m_tFirstNoResponse,
// m_iMinimumDelay) belong to the poll thread alone.
#include <json-c/json.h>

#include <algorithm>
#include <cstdio>

#include "console/front_end.h"
#include "engine/clock.h"
#include "engine/json_reply.h"
#include "engine/poll_loop.h"
#include "engine/requests.h"
#include "engine/transport.h"

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
// After the connection was given up: the pause before the first round of
// the search for the unit, doubled after every round that found nothing, up
// to the last.
constexpr int kFirstOutagePauseMs = 5000;
constexpr int kLastOutagePauseMs = 60000;
// The pauses are slept in steps of this, so a pause, a resume or another
// unit is followed within a step.
constexpr int kOutageStepMs = 1000;
// Automatic mode, reached remotely: how often the local address is tried,
// and the fetch limit of that one request.
constexpr int64_t kLocalProbeSeconds = 300;
constexpr int kLocalProbeTimeLimit = 5;

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
  AccessMode eMode = _Engine.Mode();
  if (_Engine.m_bUsingRemote && eMode == AccessMode::kLocalOnly) {
    SetUsingRemote(pPollLoop, false);
  } else if (!_Engine.m_bUsingRemote && eMode == AccessMode::kRemoteOnly) {
    SetUsingRemote(pPollLoop, true);
  } else if (_Engine.m_bUsingRemote && eMode == AccessMode::kAutomatic) {
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
  return pEngine->m_bUsingRemote && !pEngine->RemoteCredentialsUsable();
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
  if (pEngine->RemoteCredentialsUsable()) return CredentialsNeed::kNone;
  if (pEngine->m_bInvalidUserPass) {
    pEngine->m_sPassword.clear();
    return CredentialsNeed::kUserPassword;
  }
  return CredentialsNeed::kPassword;
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

// A reply came: the run of failures and the reconnects are over, and so is
// an outage, which is reported with its length.
void OnGoodPoll(PollLoop* pPollLoop, json_object* p_json_object) {
  pPollLoop->m_iNoResponseCount = 0;
  pPollLoop->m_iRetryCount = 0;
  pPollLoop->m_tFirstNoResponse = 0;
  pPollLoop->m_bNoAnswer = false;
  if (pPollLoop->m_bGivenUp) {
    pPollLoop->m_bGivenUp = false;
    pPollLoop->m_pFrontEnd->OnConnectionRestored(
        Now() - pPollLoop->m_tNoAnswerSince);
  }
  pPollLoop->m_tNoAnswerSince = 0;
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

// The connection is given up: told once, then the unit is looked for in
// rounds (OutageRound). False when the report stopped the loop (--once
// ends there): it then ends without a message.
bool GiveUp(PollLoop* pPollLoop) {
  pPollLoop->m_pFrontEnd->OnUnableToConnect();
  pPollLoop->m_pFrontEnd->OnConnectionLost();
  pPollLoop->m_bGivenUp = true;
  pPollLoop->m_iOutagePauseMs = kFirstOutagePauseMs;
  return !pPollLoop->m_bQuit;
}

// The end of a run of failures: re-locate the unit, at most kMaxRetries
// times without a good poll. False when the loop is to end.
bool EndFailureRun(PollLoop* pPollLoop, FetchPacer* pPacer) {
  pPollLoop->m_iNoResponseCount = 0;
  pPollLoop->m_tFirstNoResponse = 0;
  if (pPollLoop->m_iRetryCount >= kMaxRetries) return GiveUp(pPollLoop);
  // The locator requests of Reconnect are fetches of the loop too.
  pPacer->Wait(pPollLoop->m_bQuit);
  pPacer->Mark();
  bool bGoOn = pPollLoop->Reconnect();
  // A stop during the locator requests ended them: that is no lost unit.
  if (pPollLoop->m_bQuit) return true;
  if (!bGoOn) return GiveUp(pPollLoop);
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
  if (pPollLoop->m_tNoAnswerSince == 0) pPollLoop->m_tNoAnswerSince = tNow;
  pPollLoop->m_bNoAnswer = true;
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

// The pause before a round of the search for a given-up unit, slept in
// steps. Cut short (true) when polling is paused or the console set another
// unit meanwhile; false when a stop was requested.
bool OutagePause(PollLoop* pPollLoop, Engine* pEngine) {
  for (int iLeftMs = pPollLoop->m_iOutagePauseMs; iLeftMs > 0;
       iLeftMs -= kOutageStepMs) {
    if (pPollLoop->m_bSuspended || pPollLoop->CurrentEngine() != pEngine) {
      return true;
    }
    if (!SleepUnless(std::min(iLeftMs, kOutageStepMs), pPollLoop->m_bQuit)) {
      return false;
    }
  }
  return !pPollLoop->m_bQuit;
}

// True when the unit may be polled that way: the mode allows it and the
// way has its address (and, remotely, usable credentials).
bool WayUsable(const Engine& _Engine, bool bRemote) {
  if (bRemote) {
    return _Engine.Mode() != AccessMode::kLocalOnly &&
           !_Engine.m_sFwdActive.empty() && _Engine.RemoteCredentialsUsable();
  }
  return _Engine.Mode() != AccessMode::kRemoteOnly && !_Engine.m_sIp.empty();
}

// A way of access tried for one poll of an outage round. The unit's way
// (and a refusal of its remote credentials, which a local trial drops) is
// put back as it was when the trial goes, unless the poll answered (Keep): a round
// that finds nothing, or is ended by a stop, never leaves the way switched,
// so the switch that the unit's return makes is told and saved as any
// reconnect's. Poll thread only.
class WayTrial {
 public:
  WayTrial(PollLoop* pPollLoop, bool bRemote) : m_pPollLoop(pPollLoop) {
    MutexHolder _Lock(pPollLoop->m_pMutex);
    m_pEngine = pPollLoop->CurrentEngine();
    if (m_pEngine == nullptr) return;
    m_bWasRemote = m_pEngine->m_bUsingRemote;
    m_bWasInvalid = m_pEngine->m_bInvalidUserPass;
    if (bRemote) {
      m_pEngine->m_bUsingRemote = true;
    } else {
      SwitchToLocal(m_pEngine);
    }
  }
  ~WayTrial() {
    if (m_bKept) return;
    MutexHolder _Lock(m_pPollLoop->m_pMutex);
    // Only the unit that was tried: the console may have chosen another.
    if (m_pEngine == nullptr || m_pPollLoop->CurrentEngine() != m_pEngine) {
      return;
    }
    if (m_bWasRemote) {
      // A refusal the remote poll itself met stands.
      m_pEngine->m_bUsingRemote = true;
      m_pEngine->m_bInvalidUserPass |= m_bWasInvalid;
    } else {
      SwitchToLocal(m_pEngine);
    }
  }
  WayTrial(const WayTrial&) = delete;
  WayTrial& operator=(const WayTrial&) = delete;
  // The poll answered: the way stays.
  void Keep() { m_bKept = true; }
  // True when the trial switched the way the unit was reached.
  bool Switched(bool bRemote) const { return bRemote != m_bWasRemote; }

 private:
  PollLoop* m_pPollLoop;
  Engine* m_pEngine = nullptr;
  bool m_bWasRemote = false;
  bool m_bWasInvalid = false;
  bool m_bKept = false;
};

// One round of the search for a unit whose connection was given up: the
// pause, the locator asked again (a new address or forward server is
// followed), then one poll the way the unit is reached and, if that fails,
// one the other way when the mode allows it. A poll that answers ends the
// outage; a switch of the way is made as any reconnect makes it
// (OnConnectionRetry). Otherwise the way stays as it was (WayTrial) and the
// next pause is longer. False when a stop was requested.
bool OutageRound(PollLoop* pPollLoop, FetchPacer* pPacer) {
  Engine* pEngine = pPollLoop->CurrentEngine();
  if (!OutagePause(pPollLoop, pEngine)) return false;
  if (pPollLoop->m_bSuspended || pPollLoop->CurrentEngine() != pEngine) {
    return true;
  }
  Engine _Before;
  if (!pPollLoop->CopyEngine(&_Before)) return true;
  pPacer->Wait(pPollLoop->m_bQuit);
  pPacer->Mark();
  pPollLoop->Locate(_Before.m_sUsername);  // its result is not needed
  Engine _Engine;
  if (!pPollLoop->CopyEngine(&_Engine)) return true;
  pPollLoop->m_iMinimumDelay = 0;
  bool bFirstRemote = _Engine.m_bUsingRemote;
  for (bool bRemote : {bFirstRemote, !bFirstRemote}) {
    if (pPollLoop->m_bQuit) return false;
    if (!WayUsable(_Engine, bRemote)) continue;
    WayTrial _Trial(pPollLoop, bRemote);
    pPacer->Wait(pPollLoop->m_bQuit);
    if (pPollLoop->m_bQuit) return false;
    pPacer->Mark();
    json_object* p_json_object = pPollLoop->GetStatus();
    if (p_json_object != nullptr) {
      _Trial.Keep();
      if (_Trial.Switched(bRemote)) pPollLoop->m_pFrontEnd->OnConnectionRetry();
      OnGoodPoll(pPollLoop, p_json_object);
      return true;
    }
  }
  pPollLoop->m_iOutagePauseMs =
      std::min(2 * pPollLoop->m_iOutagePauseMs, kLastOutagePauseMs);
  return !pPollLoop->m_bQuit;
}

// True when a status reply that is a JSON object came for sURL within the
// probe's fetch limit.
bool Answers(const std::string& sURL) {
  if (sURL.empty()) return false;
  DataBlock _DataBlock(true);
  if (FetchURL(sURL, sURL, kLocalProbeTimeLimit, &_DataBlock) != 0 ||
      _DataBlock.m_pData == nullptr || _DataBlock.m_iSize == 0) {
    return false;
  }
  json_object* p_json_object = ParseReply(_DataBlock.m_pData);
  bool bObject = p_json_object != nullptr &&
                 json_object_is_type(p_json_object, json_type_object);
  json_object_put(p_json_object);
  return bObject;
}

// Automatic mode, reached remotely, with a local address: every
// kLocalProbeSeconds (counted from the time remote access began), and never
// while a command runs, one status request that asks for an answer at once
// goes to the local address. Its reply is not merged: when it comes, the
// unit is reached locally again, switched the way any reconnect switches it
// (OnConnectionRetry: its line, the settings saved), and the next poll asks
// for what the reply held.
void ProbeLocal(PollLoop* pPollLoop, FetchPacer* pPacer) {
  Engine _Engine;
  if (!pPollLoop->CopyEngine(&_Engine) || !_Engine.m_bUsingRemote ||
      _Engine.Mode() != AccessMode::kAutomatic || _Engine.m_sIp.empty()) {
    pPollLoop->m_tLastLocalProbe = 0;
    return;
  }
  int64_t tNow = Now();
  if (pPollLoop->m_tLastLocalProbe == 0) pPollLoop->m_tLastLocalProbe = tNow;
  if (tNow - pPollLoop->m_tLastLocalProbe < kLocalProbeSeconds ||
      pPollLoop->m_iCommandsRunning > 0) {
    return;
  }
  pPollLoop->m_tLastLocalProbe = tNow;
  pPacer->Wait(pPollLoop->m_bQuit);
  if (pPollLoop->m_bQuit) return;
  pPacer->Mark();
  std::string sPath = FormatStatusPath(pPollLoop->m_iLoadTime,
                                       pPollLoop->m_iDataVersion, 0, 0);
  std::string sBase = FormatLocalBaseURL(_Engine.m_sIp);
  if (sBase.empty() || sPath.empty() || !Answers(sBase + sPath)) return;
  {
    MutexHolder _Lock(pPollLoop->m_pMutex);
    Engine* pEngine = pPollLoop->CurrentEngine();
    // Only the unit that was tried, and only if nothing switched it meanwhile.
    if (pEngine == nullptr || pEngine->m_sIp != _Engine.m_sIp ||
        !pEngine->m_bUsingRemote) {
      return;
    }
    SwitchToLocal(pEngine);
  }
  pPollLoop->m_tLastLocalProbe = 0;
  pPollLoop->m_pFrontEnd->OnConnectionRetry();
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
    if (m_bGivenUp) {
      if (!OutageRound(this, &_Pacer)) return;
      continue;
    }
    ProbeLocal(this, &_Pacer);
    if (m_bQuit) continue;
    // Too soon after the last fetch (a reply that came at once, a refusal
    // answered at once, a probe): wait the rest, then look at the flags
    // again.
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
    if (pEngine->Mode() != AccessMode::kLocalOnly &&
        pEngine->m_bRemoteAvailable) {
      pEngine->m_bUsingRemote = true;
      return true;
    }
    return false;
  }
  // The unit is attached to another forward server.
  if (pEngine->m_sFwdActive != _Before.m_sFwdActive) return true;
  if (pEngine->Mode() != AccessMode::kRemoteOnly &&
      pEngine->m_bLocalAvailable) {
    SwitchToLocal(pEngine);
    return true;
  }
  return false;
}

}  // namespace Veru
