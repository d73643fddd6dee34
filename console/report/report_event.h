// ReportEvent is one report as a value: a copy of what one call of Report
// carried, made on the thread that reported it, so that a listener can read
// it later on a thread of its own (see report_fan_out.h). The model's
// records are copied, never borrowed: an event stays valid after the merge
// that made it has moved on.
//
// Threads: made on the reporting thread; immutable afterwards, so any number
// of threads may read one event at once.
#ifndef VERU_CONSOLE_REPORT_REPORT_EVENT_H
#define VERU_CONSOLE_REPORT_REPORT_EVENT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "console/report/report.h"
#include "engine/model.h"

namespace Veru {
class PollLoop;
}

// The whole home as a full reply left it (or as "show" found it).
struct ModelSnapshot {
  // The controller's state, as the engine line tells it.
  int m_iState = -2;
  std::string m_sComment;
  int m_iLoadTime = 0;
  int m_iDataVersion = 0;
  // In id order, as the maps hold them.
  std::vector<Veru::Section> m_vecSection;
  std::vector<Veru::Room> m_vecRoom;
  std::vector<Veru::Category> m_vecCategory;
  std::vector<Veru::Scene> m_vecScene;
  std::vector<Veru::Device> m_vecDevice;

  // Copies the poll loop's maps and state. The caller makes the maps safe
  // to read (the poll thread, or the model lock held).
  static std::shared_ptr<const ModelSnapshot> Of(const Veru::PollLoop& _PollLoop);
  // Copies the controller's state fields only (no maps).
  static std::shared_ptr<ModelSnapshot> StateOf(const Veru::PollLoop& _PollLoop);
};

struct ReportEvent {
  // One kind for each operation of Report, in its order.
  enum class Kind {
    kDevice,
    kScene,
    kEngineState,
    kFull,
    kPartial,
    kPasswordNeeded,
    kUserPasswordNeeded,
    kConnectionRetry,
    kUnableToConnect,
    kConnectionLost,
    kNoResponse,
    kConnectionRestored,
    kResult,
    kNoSuchDevice,
    kRefused,
    kHelp,
    kNotice,
  };

  Kind m_iKind = Kind::kNotice;
  // When it was reported (the clock seam's Now()): for a device or scene of
  // a merge, the time the reply that carried it was merged.
  int64_t m_tTime = 0;
  // The serial number of the unit the report is about (0 while unknown).
  int m_iSerialNumber = 0;
  // kDevice and kFull: an answer to "show", not a change.
  bool m_bShown = false;

  // kDevice / kScene: the record as it was reported.
  std::shared_ptr<const Veru::Device> m_pDevice;
  std::shared_ptr<const Veru::Scene> m_pScene;
  // kFull, and kEngineState (the state fields only; its maps are empty).
  std::shared_ptr<const ModelSnapshot> m_pModel;
  // kPartial: the data version and load time; kNoResponse: the count and
  // the elapsed seconds; kConnectionRestored: the outage's seconds in
  // m_iSpan; kConnectionRetry: remote or not.
  int m_iDataVersion = 0;
  int m_iLoadTime = 0;
  int m_iCount = 0;
  int64_t m_iSpan = 0;
  bool m_bRemote = false;
  // kResult: the command's outcome.
  CommandResult m_Result;
  // kNoSuchDevice: the line and the word; kRefused: the line and the
  // reason; kNotice: the text (in m_sText).
  std::string m_sCommand;
  std::string m_sText;
};

#endif  // VERU_CONSOLE_REPORT_REPORT_EVENT_H
