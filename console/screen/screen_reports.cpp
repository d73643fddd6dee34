// The full-screen view's reports: what the engine and the commands tell
// goes into the view's copy of the home and its message line, and wakes the
// drawing thread. Nothing here calls the terminal.
#include "console/screen/screen.h"

#include <map>
#include <string>

#include "console/commands/command_table.h"
#include "console/front_end.h"
#include "console/history/history_query.h"
#include "engine/clock.h"
#include "engine/poll_loop.h"

// The message line after a command: its result, or why it failed; a show
// or help has put its own message already (empty: leave it).
std::string Screen::MessageOf(const CommandOutcome& _Outcome) {
  const CommandResult& _Result = _Outcome._Result;
  if (_Outcome.bReportResult) {
    std::string sText = MessageOf(_Result);
    if (!_Outcome.Succeeded() && !_Outcome.sError.empty() && _Result.sMessage.empty()) {
      sText += " (" + _Outcome.sError + ")";
    }
    return sText;
  }
  if (!_Outcome.sError.empty()) return _Result.sCommand + ": " + _Outcome.sError;
  if (_Outcome.pRow == nullptr) return "";
  switch (_Outcome.pRow->eKind) {
    case CommandKind::kSuspend: return "Polling suspended (:resume goes on)";
    case CommandKind::kResume: return "Polling resumed";
    default: return "";
  }
}

std::string Screen::MessageOf(const CommandResult& _Result) {
  std::string sText = _Result.sCommand + ": ";
  switch (_Result.iKind) {
    case CommandResult::Kind::kNothing:
      return sText + "no command word (try ? or :help)";
    case CommandResult::Kind::kImage:
      return sText + (_Result.sURL.empty() ? "no image URL" : _Result.sURL);
    case CommandResult::Kind::kStream:
      if (_Result.sURL.empty()) return sText + "no stream (" + _Result.sType + ")";
      return sText + _Result.sURL +
             (_Result.sType.empty() ? "" : " (" + _Result.sType + ")");
    case CommandResult::Kind::kAction:
      break;
  }
  if (_Result.iResult == 0) return sText + "done";
  if (_Result.iResult > 0) return sText + "queued as job " + std::to_string(_Result.iResult);
  std::string sMessage = _Result.sMessage;
  while (!sMessage.empty() && (sMessage.back() == '\n' || sMessage.back() == '\r')) {
    sMessage.pop_back();
  }
  return sText + "failed" + (sMessage.empty() ? "" : ":" + sMessage);
}

void Screen::ReadUnit() {
  Veru::Engine _Engine;
  if (!m_pFrontEnd->m_pPollLoop->CopyEngine(&_Engine)) return;
  std::string sReachedBy =
      _Engine.m_bUsingRemote ? "remote via " + _Engine.m_sFwdActive
                             : "local " + _Engine.m_sIp;
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  m_Model.m_sUnitName = _Engine.m_sName;
  m_Model.m_iSerialNumber = _Engine.m_iSerialNumber;
  m_Model.m_sReachedBy = sReachedBy;
}

void Screen::SetConnection(const std::string& sWords) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_sConnection = sWords;
  }
  Wake();
}

void Screen::SetMessage(const std::string& sText) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_View.m_sMessage = sText;
  }
  Wake();
}

// --- Reports ---------------------------------------------------------------

void Screen::Device(const Veru::Device& _Device, bool bShown) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    if (bShown) {
      m_Model.SetDevice(_Device, 0);
      m_View.m_iSelectedKind = ScreenRowKey::kDevice;
      m_View.m_iSelectedID = _Device.m_iID;
      m_View.m_ePage = ScreenPage::kDetail;
      m_View.m_iPageTop = 0;
    } else {
      m_Model.SetDevice(_Device, Veru::NowMs());
    }
  }
  Wake();
}

void Screen::Scene(const Veru::Scene& _Scene) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.SetScene(_Scene, Veru::NowMs());
  }
  Wake();
}

void Screen::EngineState(const Veru::PollLoop&) { Wake(); }

void Screen::Full(const Veru::PollLoop& _PollLoop, bool bShown) {
  if (bShown) return SetMessage("The whole home is on the screen");
  std::map<int, std::string> mapRooms;
  for (const auto& room : _PollLoop.m_mapRoom) mapRooms[room.first] = room.second->m_sName;
  std::map<int, std::string> mapCategories;
  for (const auto& category : _PollLoop.m_mapCategory) {
    mapCategories[category.first] = category.second->m_sName;
  }
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.ClearRecords();
    m_Model.SetRooms(mapRooms);
    m_Model.SetCategories(mapCategories);
    for (const auto& device : _PollLoop.m_mapDevice) m_Model.SetDevice(*device.second, 0);
    for (const auto& scene : _PollLoop.m_mapScene) m_Model.SetScene(*scene.second, 0);
    m_Model.m_tLastReplyMs = Veru::NowMs();
    m_sConnection = "connected";
  }
  ReadUnit();
  Wake();
}

void Screen::Partial(int, int) {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_Model.m_tLastReplyMs = Veru::NowMs();
    m_sConnection = "connected";
  }
  Wake();
}

void Screen::PasswordNeeded() {
  SetConnection("password needed");
  m_bAskPassword = true;
  Wake();
}

void Screen::UserPasswordNeeded() {
  SetConnection("user name or password refused");
  m_bOfferWizard = true;
  Wake();
}

void Screen::ConnectionRetry(bool bRemote) {
  SetConnection(bRemote ? "trying again remotely" : "trying again locally");
  ReadUnit();
}

void Screen::UnableToConnect() { SetMessage("Unable to connect"); }

void Screen::ConnectionLost() {
  SetConnection("lost");
  SetMessage("The connection was lost; still looking for the unit");
}

void Screen::NoResponse(int iCount, int64_t tElapsed) {
  SetConnection("no answer for " + std::to_string(iCount) +
                (iCount == 1 ? " poll, " : " polls, ") + FormatSpan(tElapsed));
}

void Screen::ConnectionRestored(int64_t tOutageSeconds) {
  SetConnection("connected");
  SetMessage("Connection restored after " + FormatSpan(tOutageSeconds));
}

void Screen::Result(const CommandResult& _Result) { SetMessage(MessageOf(_Result)); }

void Screen::NoSuchDevice(const std::string& sCommand, const std::string& sWord) {
  SetMessage(sCommand + ": no such device " + sWord);
}

void Screen::Help() {
  {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_View.m_ePage = ScreenPage::kKeys;
    m_View.m_iPageTop = 0;
  }
  Wake();
}

void Screen::Notice(const std::string& sText) { SetMessage(sText); }

// The message line has room for one change: how many there are, and the
// last (the detail page shows a device's).
void Screen::History(const HistoryAnswer& _Answer) {
  if (_Answer.vecChanges.empty()) {
    SetMessage("No change since " + FormatHistoryTime(_Answer.tSince));
    return;
  }
  SetMessage(std::to_string(_Answer.vecChanges.size()) +
             " changes; the last: " +
             FormatHistoryLine(_Answer.vecChanges.back()));
}
