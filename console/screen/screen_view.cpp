// The full-screen view's keys: moving the selection, the pages, the filter,
// the line editor of the message line, and the device commands the keys
// stand for.
#include "console/screen/screen_view.h"

#include <cctype>

#include "console/report/device_state.h"
#include "console/input/line_input.h"
#include "console/screen/screen_keys.h"

namespace {

// The largest step a key asks for: far enough for any home.
constexpr int kFarAway = 1 << 30;

bool ContainsAnyCase(const std::string& sText, const std::string& sPart) {
  if (sPart.empty()) return true;
  if (sPart.size() > sText.size()) return false;
  for (size_t i = 0; i + sPart.size() <= sText.size(); ++i) {
    size_t j = 0;
    while (j < sPart.size() &&
           tolower(static_cast<unsigned char>(sText[i + j])) ==
               tolower(static_cast<unsigned char>(sPart[j]))) {
      ++j;
    }
    if (j == sPart.size()) return true;
  }
  return false;
}

bool Selectable(const ScreenModel& _Model, const ScreenView& _View,
                const ScreenRowKey& _Key) {
  return _Key.m_iKind != ScreenRowKey::kEmptyRoom &&
         ScreenRowShown(_Model, _View, _Key);
}

// The selectable row iSteps rows after (or, negative, before) _Key, or the
// last one found on the way when the rows end first.
ScreenRowKey Step(const ScreenModel& _Model, const ScreenView& _View,
                  ScreenRowKey _Key, int iSteps) {
  const std::set<ScreenRowKey>& setRows = _Model.Rows();
  auto it = setRows.find(_Key);
  if (it == setRows.end()) return _Key;
  while (iSteps > 0) {
    auto itNext = std::next(it);
    while (itNext != setRows.end() && !Selectable(_Model, _View, *itNext)) {
      ++itNext;
    }
    if (itNext == setRows.end()) break;
    it = itNext;
    --iSteps;
  }
  while (iSteps < 0 && it != setRows.begin()) {
    auto itPrevious = std::prev(it);
    while (itPrevious != setRows.begin() &&
           !Selectable(_Model, _View, *itPrevious)) {
      --itPrevious;
    }
    if (!Selectable(_Model, _View, *itPrevious)) break;
    it = itPrevious;
    ++iSteps;
  }
  return *it;
}

void Select(ScreenView* pView, const ScreenRowKey& _Key) {
  pView->m_iSelectedKind = _Key.m_iKind;
  pView->m_iSelectedID = _Key.m_iID;
}

void Move(const ScreenModel& _Model, ScreenView* pView, int iSteps) {
  ScreenRowKey _Key;
  if (!ScreenSelectedRow(_Model, *pView, &_Key)) return;
  Select(pView, Step(_Model, *pView, _Key, iSteps));
}

// The selected device, or null (with a message) when a scene or nothing is
// selected.
const ScreenDevice* SelectedDevice(const ScreenModel& _Model,
                                   ScreenView* pView) {
  ScreenRowKey _Key;
  const ScreenDevice* pDevice = nullptr;
  if (ScreenSelectedRow(_Model, *pView, &_Key)) pDevice = _Model.Device(_Key);
  if (pDevice == nullptr) pView->m_sMessage = "Select a device first";
  return pDevice;
}

ScreenRequest Command(std::string sText) {
  ScreenRequest _Request;
  _Request.m_eKind = ScreenRequest::kCommand;
  _Request.m_sText = std::move(sText);
  return _Request;
}

ScreenRequest Toggle(const ScreenModel& _Model, ScreenView* pView) {
  const ScreenDevice* pDevice = SelectedDevice(_Model, pView);
  if (pDevice == nullptr) return ScreenRequest();
  DeviceState _State = DeviceStateOf(pDevice->m_mapVariables);
  std::string sID = std::to_string(pDevice->m_iID);
  if (!_State.Known()) {
    pView->m_sMessage = "Device " + sID + " shows no on/off state";
    return ScreenRequest();
  }
  return Command(sID + (_State.On() ? " off" : " on"));
}

// + and -: a step of iBy from the level last asked for while the unit has
// not reported another, else from the level shown.
ScreenRequest Dim(const ScreenModel& _Model, ScreenView* pView, int iBy) {
  const ScreenDevice* pDevice = SelectedDevice(_Model, pView);
  if (pDevice == nullptr) return ScreenRequest();
  DeviceState _State = DeviceStateOf(pDevice->m_mapVariables);
  std::string sID = std::to_string(pDevice->m_iID);
  if (!_State.bCanDim) {
    pView->m_sMessage = "Device " + sID + " cannot dim";
    return ScreenRequest();
  }
  int iShown = _State.iLevel >= 0 ? _State.iLevel : _State.On() ? 100 : 0;
  ScreenAskedLevel& _Asked = pView->m_mapAskedLevels[pDevice->m_iID];
  int iFrom = iShown;
  if (_Asked.setOnTheWay.count(iShown) != 0) {
    iFrom = _Asked.iLevel;
  } else {
    _Asked.setOnTheWay = {iShown};
  }
  int iLevel = iFrom + iBy;
  if (iLevel < 0) iLevel = 0;
  if (iLevel > 100) iLevel = 100;
  _Asked.iLevel = iLevel;
  _Asked.setOnTheWay.insert(iLevel);
  return Command(sID + " dim " + std::to_string(iLevel));
}

ScreenRequest Poll(const ScreenModel& _Model, ScreenView* pView) {
  const ScreenDevice* pDevice = SelectedDevice(_Model, pView);
  if (pDevice == nullptr) return ScreenRequest();
  return Command(std::to_string(pDevice->m_iID) + " poll");
}

ScreenRequest OpenDetail(const ScreenModel& _Model, ScreenView* pView) {
  ScreenRowKey _Key;
  if (!ScreenSelectedRow(_Model, *pView, &_Key)) return ScreenRequest();
  pView->m_ePage = ScreenPage::kDetail;
  pView->m_iPageTop = 0;
  const ScreenDevice* pDevice = _Model.Device(_Key);
  auto it = pDevice == nullptr ? Veru::VariableMap::const_iterator()
                               : pDevice->m_mapVariables.find("streaming");
  if (pDevice == nullptr || it == pDevice->m_mapVariables.end() ||
      it->second.empty()) {
    return ScreenRequest();
  }
  if (pView->m_iCameraID != pDevice->m_iID) {
    pView->m_iCameraID = pDevice->m_iID;
    pView->m_sImageURL.clear();
    pView->m_sStreamURL.clear();
  }
  ScreenRequest _Request;
  _Request.m_eKind = ScreenRequest::kCameraURLs;
  _Request.m_iID = pDevice->m_iID;
  return _Request;
}

void PopCharacter(std::string* pText) {
  while (!pText->empty()) {
    unsigned char cLast = static_cast<unsigned char>(pText->back());
    pText->pop_back();
    if ((cLast & 0xC0) != 0x80) break;  // the first byte of a character
  }
}

void AppendCharacter(std::string* pText, int iKey) {
  unsigned int c = static_cast<unsigned int>(iKey);
  if (c < 0x80) {
    *pText += static_cast<char>(c);
  } else if (c < 0x800) {
    *pText += static_cast<char>(0xC0 | (c >> 6));
    *pText += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *pText += static_cast<char>(0xE0 | (c >> 12));
    *pText += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *pText += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *pText += static_cast<char>(0xF0 | (c >> 18));
    *pText += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *pText += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *pText += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A key while a line is typed on the message line.
ScreenRequest EditKey(ScreenView* pView, int iKey) {
  ScreenInput eInput = pView->m_eInput;
  ScreenRequest _Request;
  if (eInput == ScreenInput::kWizard && (iKey == kKeyEscape || iKey == '\n')) {
    // As the plain console reads it: an answer that starts with n or N is
    // no, any other (an empty one too) is yes.
    char cFirst = pView->m_sInput.empty() ? '\0' : pView->m_sInput[0];
    pView->m_eInput = ScreenInput::kNone;
    pView->m_sInput.clear();
    if (iKey == kKeyEscape || cFirst == 'n' || cFirst == 'N') {
      pView->m_sMessage = "Type :connect to run the connection wizard later";
    } else {
      _Request.m_eKind = ScreenRequest::kWizard;
    }
    return _Request;
  }
  if (iKey == kKeyEscape) {
    pView->m_eInput = ScreenInput::kNone;
    pView->m_sInput.clear();
    if (eInput == ScreenInput::kFilter) pView->m_sFilter.clear();
    if (eInput == ScreenInput::kPassword) {
      pView->m_sMessage = "No password given: the unit waits for one (: then "
                          "any key asks again)";
    }
    return _Request;
  }
  if (iKey == '\n') {
    pView->m_eInput = ScreenInput::kNone;
    if (eInput == ScreenInput::kCommand &&
        pView->m_sInput.size() > kCommandLineMaxBytes) {
      // Refused whole, as the console refuses it.
      std::string sWhy = TooLongLineMessage(pView->m_sInput.size());
      pView->m_sMessage = sWhy.substr(sWhy.find(' ') + 1);
      pView->m_sMessage.pop_back();
    } else if (eInput == ScreenInput::kCommand && !pView->m_sInput.empty()) {
      _Request = Command(pView->m_sInput);
    } else if (eInput == ScreenInput::kPassword) {
      _Request.m_eKind = ScreenRequest::kPassword;
      _Request.m_sText = pView->m_sInput;
    }
    pView->m_sInput.clear();
    return _Request;
  }
  if (iKey == kKeyBackspace || iKey == '\b') {
    PopCharacter(&pView->m_sInput);
  } else if (iKey >= ' ' && iKey < kKeyUp && iKey != kKeyBackspace) {
    // A command line holds what the console reads (one character more is
    // taken, so Enter can refuse a line too long); the other inputs what an
    // answer holds. A character that does not fit is not taken.
    size_t iLimit = eInput == ScreenInput::kCommand
                        ? kCommandLineMaxBytes + 4
                        : static_cast<size_t>(kAnswerBufferSize - 1);
    std::string sInput = pView->m_sInput;
    AppendCharacter(&sInput, iKey);
    if (sInput.size() <= iLimit) pView->m_sInput = sInput;
  }
  if (eInput == ScreenInput::kFilter) pView->m_sFilter = pView->m_sInput;
  return _Request;
}

// A key on the detail or keys page: the arrows scroll the page.
ScreenRequest PageKey(const ScreenModel& _Model, ScreenView* pView,
                      ScreenAction eAction, int iPageRows) {
  ScreenRequest _Request;
  switch (eAction) {
    case ScreenAction::kUp:
      if (pView->m_iPageTop > 0) --pView->m_iPageTop;
      break;
    case ScreenAction::kDown:
      ++pView->m_iPageTop;
      break;
    case ScreenAction::kPageUp:
      pView->m_iPageTop -= iPageRows;
      if (pView->m_iPageTop < 0) pView->m_iPageTop = 0;
      break;
    case ScreenAction::kPageDown:
      pView->m_iPageTop += iPageRows;
      break;
    case ScreenAction::kFirst:
      pView->m_iPageTop = 0;
      break;
    case ScreenAction::kBack:
    case ScreenAction::kKeys:
      pView->m_ePage = ScreenPage::kList;
      break;
    case ScreenAction::kToggle:
      if (pView->m_ePage == ScreenPage::kDetail) return Toggle(_Model, pView);
      break;
    case ScreenAction::kDimUp:
    case ScreenAction::kDimDown:
      if (pView->m_ePage == ScreenPage::kDetail) {
        return Dim(_Model, pView, eAction == ScreenAction::kDimUp ? 10 : -10);
      }
      break;
    case ScreenAction::kPoll:
      if (pView->m_ePage == ScreenPage::kDetail) return Poll(_Model, pView);
      break;
    default:
      break;
  }
  return _Request;
}

}  // namespace

bool ScreenRowShown(const ScreenModel& _Model, const ScreenView& _View,
                    const ScreenRowKey& _Key) {
  if (_View.m_sFilter.empty()) return true;
  if (_Key.m_iKind == ScreenRowKey::kEmptyRoom) return false;
  return ContainsAnyCase(_Model.RowName(_Key), _View.m_sFilter);
}

bool ScreenSelectedRow(const ScreenModel& _Model, const ScreenView& _View,
                       ScreenRowKey* pKey) {
  if (_Model.FindRow(_View.m_iSelectedKind, _View.m_iSelectedID, pKey) &&
      ScreenRowShown(_Model, _View, *pKey)) {
    return true;
  }
  for (const ScreenRowKey& _Key : _Model.Rows()) {
    if (Selectable(_Model, _View, _Key)) {
      *pKey = _Key;
      return true;
    }
  }
  return false;
}

void ScreenDeviceReported(ScreenView* pView, const ScreenDevice& _Device) {
  auto it = pView->m_mapAskedLevels.find(_Device.m_iID);
  if (it == pView->m_mapAskedLevels.end()) return;
  DeviceState _State = DeviceStateOf(_Device.m_mapVariables);
  if (_State.iLevel == it->second.iLevel ||
      it->second.setOnTheWay.count(_State.iLevel) == 0) {
    pView->m_mapAskedLevels.erase(it);
  }
}

void ScreenAskPassword(ScreenView* pView) {
  pView->m_eInput = ScreenInput::kPassword;
  pView->m_sInput.clear();
}

void ScreenOfferWizard(ScreenView* pView) {
  pView->m_eInput = ScreenInput::kWizard;
  pView->m_sInput.clear();
}

ScreenRequest ScreenViewKey(const ScreenModel& _Model, ScreenView* pView,
                            int iKey, int iPageRows) {
  if (iKey == kKeyResize) return ScreenRequest();
  if (pView->m_eInput != ScreenInput::kNone) return EditKey(pView, iKey);
  ScreenAction eAction = ScreenActionOf(iKey);
  ScreenRequest _Request;
  if (eAction == ScreenAction::kQuit) {
    _Request.m_eKind = ScreenRequest::kQuit;
    return _Request;
  }
  if (eAction == ScreenAction::kRedraw) {
    _Request.m_eKind = ScreenRequest::kRedraw;
    return _Request;
  }
  if (eAction == ScreenAction::kCommand) {
    pView->m_eInput = ScreenInput::kCommand;
    pView->m_sInput.clear();
    return _Request;
  }
  if (pView->m_ePage != ScreenPage::kList) {
    return PageKey(_Model, pView, eAction, iPageRows);
  }
  int iPage = iPageRows > 1 ? iPageRows - 1 : 1;
  switch (eAction) {
    case ScreenAction::kUp: Move(_Model, pView, -1); break;
    case ScreenAction::kDown: Move(_Model, pView, 1); break;
    case ScreenAction::kPageUp: Move(_Model, pView, -iPage); break;
    case ScreenAction::kPageDown: Move(_Model, pView, iPage); break;
    case ScreenAction::kFirst: Move(_Model, pView, -kFarAway); break;
    case ScreenAction::kLast: Move(_Model, pView, kFarAway); break;
    case ScreenAction::kToggle: return Toggle(_Model, pView);
    case ScreenAction::kDimUp: return Dim(_Model, pView, 10);
    case ScreenAction::kDimDown: return Dim(_Model, pView, -10);
    case ScreenAction::kPoll: return Poll(_Model, pView);
    case ScreenAction::kDetail: return OpenDetail(_Model, pView);
    case ScreenAction::kBack: pView->m_sFilter.clear(); break;
    case ScreenAction::kFilter:
      pView->m_eInput = ScreenInput::kFilter;
      pView->m_sInput = pView->m_sFilter;
      break;
    case ScreenAction::kKeys:
      pView->m_ePage = ScreenPage::kKeys;
      pView->m_iPageTop = 0;
      break;
    default:
      break;
  }
  return _Request;
}
