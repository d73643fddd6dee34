// ScreenState is what the full-screen view shows, in one place with one
// lock: the view's copy of the home (ScreenModel), the view's own state
// (ScreenView: page, selection, typed line, message), the connection in
// words, and the questions waiting to be put (a password, the wizard). The
// report side (ScreenReport, on the poll thread, and the view's command
// worker) writes it; the drawing loop (Screen) reads it to lay out a frame
// and applies the keys to it. Every write wakes the drawing loop through a
// pipe it waits on.
//
// Threads: every method may be called from any thread. The writers never
//   block for long (a copy under the lock and one byte on a pipe), so the
//   poll thread may call them inside a merge, the model lock held.
// Lock: m_Mutex guards everything but the atomics. It is the innermost lock:
//   the model lock (the front end's m_Mutex) may be held when it is taken,
//   never the other way round, and no method calls out while holding it.
// Ownership: the Screen owns its state; its report borrows it, and the
//   front end ends the poll thread before the Screen goes.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_STATE_H
#define VERU_CONSOLE_SCREEN_SCREEN_STATE_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "console/screen/screen_layout.h"
#include "console/screen/screen_model.h"
#include "console/screen/screen_view.h"
#include "engine/model.h"

namespace Veru {
class PollLoop;
}

class ScreenState {
 public:
  ScreenState();
  ~ScreenState();
  ScreenState(const ScreenState&) = delete;
  ScreenState& operator=(const ScreenState&) = delete;

  // --- Written by the report side ------------------------------------------
  // One device or scene changed (bShown: "show N" asked for it, and the
  // detail page opens on it).
  void SetDevice(const Veru::Device& _Device, bool bShown);
  void SetScene(const Veru::Scene& _Scene);
  // A full reply: the whole home anew. The model lock is not held (the
  // poll thread is the model's only writer).
  void SetHome(const Veru::PollLoop& _PollLoop);
  // A reply came: the unit is connected (and answers again).
  void SetReplied();
  // The header's words on the unit and how it is reached, from the current
  // unit (takes the model lock: never call it with the model lock held).
  void ReadUnit(Veru::PollLoop* pPollLoop);
  void SetConnection(const std::string& sWords);
  // The unit does not answer (polls fail, or the connection was given up):
  // sWords tell how; the list is dimmed until the next reply.
  void SetNoAnswer(const std::string& sWords);
  void SetMessage(const std::string& sText);
  // The device whose detail page is shown, or 0.
  int DetailDevice();
  // The history lines of device iID for its detail page.
  void SetHistory(int iID, std::vector<std::string> vecLines);
  // The camera URLs the detail page of device iDevice shows.
  void SetCameraURLs(int iDevice, const std::string& sImage,
                     const std::string& sStream);
  void ShowKeys();
  // The questions the drawing loop puts on the message line when it next
  // wakes (TakeQuestions).
  void AskPassword();
  void OfferWizard();
  // Wakes the drawing loop (async-signal-safe).
  void Wake();

  // --- Read by the drawing loop ---------------------------------------------
  // False when the wake-up pipe could not be made.
  bool Usable() const { return m_aWakePipe[0] >= 0; }
  int WakeFd() const { return m_aWakePipe[0]; }
  // Empties the wake-up pipe; the next write wakes the loop again.
  void TakeWake();
  // Puts the questions asked for on the message line; true when there was one.
  bool TakeQuestions();
  // True once a reply came (the age in the header then grows).
  bool HasReply();
  // The frame at that size (bSuspended: polling is paused); keeps its
  // first row for the next frame.
  ScreenFrame Layout(int iWidth, int iHeight, bool bSuspended);
  // Applies one key (see ScreenViewKey).
  ScreenRequest Key(int iKey, int iPageRows);

 private:
  std::mutex m_Mutex;
  ScreenModel m_Model;
  ScreenView m_View;
  std::string m_sConnection = "connecting";

  std::atomic<bool> m_bWakePending{false};
  std::atomic<bool> m_bAskPassword{false};
  std::atomic<bool> m_bOfferWizard{false};
  int m_aWakePipe[2] = {-1, -1};
};

#endif  // VERU_CONSOLE_SCREEN_SCREEN_STATE_H
