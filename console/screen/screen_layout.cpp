// The frame of the full-screen view laid out into a grid of cells.
#include "console/screen/screen_layout.h"

#include <cstdio>

#include "console/commands/command_table.h"
#include "console/report/secret_name.h"
#include "console/screen/screen_cells.h"
#include "console/screen/screen_glance.h"
#include "console/screen/screen_keys.h"

namespace {

// The columns of the list.
struct Columns {
  int iID, iIDWidth, iName, iNameWidth, iState, iStateWidth, iComment,
      iCommentWidth;
};

Columns ListColumns(int iWidth, int iLargestID) {
  Columns _Columns;
  int iDigits = static_cast<int>(std::to_string(iLargestID).size());
  _Columns.iID = 2;
  _Columns.iIDWidth = iDigits < 2 ? 2 : iDigits;
  bool bWide = iWidth >= 80;
  int iGap = bWide ? 2 : 1;
  int iFree = iWidth - _Columns.iID - _Columns.iIDWidth - iGap * (bWide ? 3 : 2);
  if (iFree < 4) iFree = 4;
  _Columns.iNameWidth = bWide ? iFree * 3 / 10 : iFree / 2;
  _Columns.iStateWidth = bWide ? iFree * 2 / 5 : iFree - _Columns.iNameWidth;
  _Columns.iCommentWidth =
      bWide ? iFree - _Columns.iNameWidth - _Columns.iStateWidth : 0;
  _Columns.iName = _Columns.iID + _Columns.iIDWidth + iGap;
  _Columns.iState = _Columns.iName + _Columns.iNameWidth + iGap;
  _Columns.iComment = _Columns.iState + _Columns.iStateWidth + iGap;
  return _Columns;
}

std::string HeaderText(const ScreenModel& _Model, const ScreenView& _View,
                       int64_t tNowMs) {
  std::string sHeader = _Model.m_sUnitName.empty() ? "Unit" : _Model.m_sUnitName;
  if (_Model.m_iSerialNumber != 0) {
    sHeader += " " + std::to_string(_Model.m_iSerialNumber);
  }
  if (_Model.m_bNoAnswer) sHeader += " | OFFLINE";
  if (!_Model.m_sConnection.empty()) sHeader += " | " + _Model.m_sConnection;
  if (!_View.m_sFilter.empty()) sHeader += " | filter: " + _View.m_sFilter;
  if (_Model.m_tLastReplyMs > 0) {
    int64_t tAge = (tNowMs - _Model.m_tLastReplyMs) / 1000;
    if (tAge < 0) tAge = 0;
    sHeader += " | last reply " + std::to_string(tAge) + " s ago";
  }
  if (!_Model.m_sReachedBy.empty()) sHeader += " | " + _Model.m_sReachedBy;
  return sHeader;
}

// Lays out the list page into the body rows [iFirst, iFirst + iRows).
class ListLayout {
 public:
  ListLayout(const ScreenModel& _Model, const ScreenView& _View,
             ScreenFrame* pFrame, int iFirst, int iRows, int64_t tNowMs,
             int64_t tNow)
      : m_Model(_Model), m_View(_View), m_pFrame(pFrame), m_iFirst(iFirst),
        m_iRows(iRows), m_tNowMs(tNowMs), m_tNow(tNow),
        m_Columns(ListColumns(pFrame->m_iWidth, _Model.LargestID())) {}

  void Run() {
    using Iterator = std::set<ScreenRowKey>::const_iterator;
    const std::set<ScreenRowKey>& setRows = m_Model.Rows();
    m_bHasSelection = ScreenSelectedRow(m_Model, m_View, &m_Selected);
    Iterator itTop = setRows.lower_bound(m_View.m_TopKey);
    itTop = NextShown(itTop);
    if (m_bHasSelection) {
      Iterator itSelected = setRows.find(m_Selected);
      if (itTop == setRows.end() || m_Selected < *itTop) {
        itTop = itSelected;
      } else if (LinesTo(itTop, itSelected) > m_iRows) {
        itTop = FillBackwards(itSelected, 2);
      }
    }
    if (itTop == setRows.end()) itTop = NextShown(setRows.begin());
    if (itTop == setRows.end()) return Empty();
    int iLines = LinesTo(itTop, setRows.end());
    if (iLines < m_iRows) itTop = FillBackwards(itTop, iLines);
    m_pFrame->m_TopKey = *itTop;
    Draw(itTop);
  }

 private:
  using Iterator = std::set<ScreenRowKey>::const_iterator;

  Iterator NextShown(Iterator it) const {
    while (it != m_Model.Rows().end() && !ScreenRowShown(m_Model, m_View, *it)) {
      ++it;
    }
    return it;
  }

  // The lines the rows from itTop through itLast take (headings counted),
  // or m_iRows + 1 when they take more than the body; itLast may be end().
  int LinesTo(Iterator itTop, Iterator itLast) const {
    int iLines = 1;
    Iterator itPrevious = itTop;
    for (Iterator it = itTop; it != m_Model.Rows().end(); it = NextShown(++it)) {
      if (it != itTop && !it->SameHeading(*itPrevious)) ++iLines;
      ++iLines;
      itPrevious = it;
      if (iLines > m_iRows) return m_iRows + 1;
      if (it == itLast) break;
    }
    return iLines;
  }

  // The earliest first row that still shows itFrom's rows, given that they
  // take iLines lines from itFrom on.
  Iterator FillBackwards(Iterator itFrom, int iLines) const {
    Iterator itTop = itFrom;
    Iterator it = itFrom;
    while (it != m_Model.Rows().begin()) {
      --it;
      if (!ScreenRowShown(m_Model, m_View, *it)) continue;
      int iMore = it->SameHeading(*itTop) ? 1 : 2;
      if (iLines + iMore > m_iRows) break;
      iLines += iMore;
      itTop = it;
    }
    return itTop;
  }

  void Empty() {
    ScreenRowWriter _Writer(m_pFrame, m_iFirst);
    _Writer.Put(2, m_pFrame->m_iWidth - 2,
                m_View.m_sFilter.empty() ? "No devices yet"
                                         : "No name holds the filter's text",
                ScreenRole::kMuted);
  }

  void Draw(Iterator itTop) {
    int iLine = 0;
    Iterator itPrevious = itTop;
    Iterator it = itTop;
    for (; it != m_Model.Rows().end() && iLine < m_iRows; it = NextShown(++it)) {
      if (it == itTop || !it->SameHeading(*itPrevious)) {
        if (iLine + 1 >= m_iRows) break;  // no heading without its row
        ScreenRowWriter(m_pFrame, m_iFirst + iLine)
            .Put(0, m_pFrame->m_iWidth, m_Model.Heading(*it), ScreenRole::kRoom);
        ++iLine;
      }
      DrawRow(*it, m_iFirst + iLine);
      ++iLine;
      itPrevious = it;
    }
    if (it != m_Model.Rows().end()) MarkMore(m_iFirst + m_iRows - 1, "[more below]");
    if (ShownBefore(itTop)) MarkMore(m_iFirst, "[more above]");
  }

  // True when a row before it is shown.
  bool ShownBefore(Iterator it) const {
    while (it != m_Model.Rows().begin()) {
      if (ScreenRowShown(m_Model, m_View, *--it)) return true;
    }
    return false;
  }

  // The mark at the right end of a body line, a blank before it.
  void MarkMore(int iRow, const char* sMark) {
    int iWidth = ScreenTextWidth(sMark);
    int iColumn = m_pFrame->m_iWidth - iWidth;
    if (iColumn < 1) return;
    ScreenRowWriter _Writer(m_pFrame, iRow);
    // A blank, and no half of a double-width character, before the mark.
    int iBlank = iColumn - 1;
    if (iBlank > 0 && m_pFrame->At(iRow, iBlank).m_sText.empty()) --iBlank;
    for (int i = iBlank; i < iColumn; ++i) {
      _Writer.Put(i, 1, " ", m_pFrame->At(iRow, i).m_eRole);
    }
    _Writer.Put(iColumn, iWidth, sMark, ScreenRole::kMore);
  }

  void DrawRow(const ScreenRowKey& _Key, int iRow) {
    ScreenRowWriter _Writer(m_pFrame, iRow);
    const Columns& _Columns = m_Columns;
    if (_Key.m_iKind == ScreenRowKey::kEmptyRoom) {
      _Writer.Put(_Columns.iName, m_pFrame->m_iWidth, "(no devices)",
                  ScreenRole::kMuted);
      return;
    }
    bool bSelected = m_bHasSelection && _Key == m_Selected;
    const ScreenDevice* pDevice = m_Model.Device(_Key);
    const ScreenScene* pScene = m_Model.Scene(_Key);
    int64_t tChanged = pDevice != nullptr ? pDevice->m_tChangedMs
                       : pScene != nullptr ? pScene->m_tChangedMs : 0;
    bool bChanged = tChanged != 0 && m_tNowMs - tChanged < kScreenChangedMs;
    ScreenRole eRow = bSelected ? ScreenRole::kSelected
                      : bChanged ? ScreenRole::kChanged : ScreenRole::kPlain;
    _Writer.Fill(0, m_pFrame->m_iWidth, eRow);
    if (bSelected) {
      _Writer.Put(0, 1, ">", eRow);
      m_pFrame->m_iCursorRow = iRow;
      m_pFrame->m_iCursorColumn = 0;
    }
    if (bChanged) _Writer.Put(1, 1, "*", eRow);
    _Writer.PutNumber(_Columns.iID, _Columns.iIDWidth, _Key.m_iID, eRow);
    _Writer.Put(_Columns.iName, _Columns.iNameWidth, m_Model.RowName(_Key), eRow);
    std::vector<ScreenGlancePart> vecState;
    std::string sComment;
    if (pDevice != nullptr) {
      vecState = ScreenGlanceParts(pDevice->m_mapVariables, m_tNow,
                                   _Columns.iStateWidth);
      sComment = pDevice->m_sComment;
    } else if (pScene != nullptr) {
      if (pScene->m_bActive) vecState.push_back({"active", ScreenRole::kActive});
      sComment = pScene->m_sComment;
    }
    // The parts joined, one text for each run of one role.
    std::vector<std::pair<std::string, ScreenRole>> vecRuns;
    auto Append = [&](const std::string& sText, ScreenRole eRole) {
      if (vecRuns.empty() || vecRuns.back().second != eRole) {
        vecRuns.emplace_back(std::string(), eRole);
      }
      vecRuns.back().first += sText;
    };
    for (size_t i = 0; i < vecState.size(); ++i) {
      ScreenRole eState = vecState[i].m_eRole;
      if (bSelected || eState == ScreenRole::kPlain) eState = eRow;
      if (i > 0) Append(kScreenGlanceJoin, eRow);
      Append(vecState[i].m_sText, eState);
    }
    int iColumn = _Columns.iState;
    int iEnd = _Columns.iState + _Columns.iStateWidth;
    for (const auto& run : vecRuns) {
      iColumn += _Writer.Put(iColumn, iEnd - iColumn, run.first, run.second);
    }
    _Writer.Put(_Columns.iComment, _Columns.iCommentWidth, sComment, eRow);
  }

  const ScreenModel& m_Model;
  const ScreenView& m_View;
  ScreenFrame* m_pFrame;
  int m_iFirst;
  int m_iRows;
  int64_t m_tNowMs;
  int64_t m_tNow;
  Columns m_Columns;
  bool m_bHasSelection = false;
  ScreenRowKey m_Selected;
};

// The lines of the detail page: labelled values, then every variable.
std::vector<std::pair<std::string, ScreenRole>> DetailLines(
    const ScreenModel& _Model, const ScreenView& _View, int iWidth, int64_t tNow) {
  std::vector<std::pair<std::string, ScreenRole>> vecLines;
  ScreenRowKey _Key;
  if (!ScreenSelectedRow(_Model, _View, &_Key)) return vecLines;
  auto Line = [&](const std::string& sLabel, const std::string& sValue) {
    std::string sLine = sLabel;
    sLine.resize(12, ' ');
    vecLines.emplace_back(sLine + sValue, ScreenRole::kPlain);
  };
  auto Room = [&](int iRoom) {
    auto it = _Model.RoomNames().find(iRoom);
    std::string sID = "(" + std::to_string(iRoom) + ")";
    return it == _Model.RoomNames().end() ? sID : it->second + " " + sID;
  };
  if (const ScreenScene* pScene = _Model.Scene(_Key)) {
    vecLines.emplace_back("Scene " + std::to_string(pScene->m_iID) + ": " +
                              pScene->m_sName, ScreenRole::kRoom);
    Line("Room", Room(pScene->m_iRoom));
    Line("Active", pScene->m_bActive ? "yes" : "no");
    Line("State code", std::to_string(pScene->m_iState));
    Line("Comment", pScene->m_sComment);
    return vecLines;
  }
  const ScreenDevice* pDevice = _Model.Device(_Key);
  if (pDevice == nullptr) return vecLines;
  vecLines.emplace_back("Device " + std::to_string(pDevice->m_iID) + ": " +
                            pDevice->m_sName, ScreenRole::kRoom);
  Line("Room", Room(pDevice->m_iRoom));
  std::string sCategory = _Model.CategoryName(pDevice->m_iCategory);
  std::string sCategoryID = "(" + std::to_string(pDevice->m_iCategory) + ")";
  Line("Category", sCategory.empty() ? sCategoryID : sCategory + " " + sCategoryID);
  Line("State", ScreenGlanceText(
                    ScreenGlanceParts(pDevice->m_mapVariables, tNow, iWidth - 12)));
  Line("State code", std::to_string(pDevice->m_iState));
  Line("Comment", pDevice->m_sComment);
  if (_View.m_iCameraID == pDevice->m_iID) {
    // A camera's password may be in its URLs.
    Line("Image URL", _View.m_sImageURL.empty() ? "(asking...)"
                                                : MaskUrlPassword(_View.m_sImageURL));
    Line("Stream URL", _View.m_sStreamURL.empty() ? "(asking...)"
                                                  : MaskUrlPassword(_View.m_sStreamURL));
  }
  vecLines.emplace_back("Variables", ScreenRole::kRoom);
  for (const auto& variable : pDevice->m_mapVariables) {
    bool bSecret = IsSecretName(variable.first);
    vecLines.emplace_back("  " + variable.first + "=" +
                              (bSecret ? kSecretMask : variable.second),
                          ScreenRole::kPlain);
  }
  if (pDevice->m_mapVariables.empty()) {
    vecLines.emplace_back("  (none)", ScreenRole::kMuted);
  }
  // The history: its headings (they start with no blank) and its lines.
  if (_View.m_iHistoryID == pDevice->m_iID) {
    for (const std::string& sLine : _View.m_vecHistory) {
      bool bHeading = !sLine.empty() && sLine[0] != ' ';
      vecLines.emplace_back(sLine,
                            bHeading ? ScreenRole::kRoom : ScreenRole::kPlain);
    }
  }
  return vecLines;
}

std::vector<std::pair<std::string, ScreenRole>> KeyLines() {
  std::vector<std::pair<std::string, ScreenRole>> vecLines;
  vecLines.emplace_back("Keys (Esc or ? back)", ScreenRole::kRoom);
  for (const std::string& sLine : ScreenKeyHelpLines()) {
    vecLines.emplace_back("  " + sLine, ScreenRole::kPlain);
  }
  vecLines.emplace_back("Commands (after :)", ScreenRole::kRoom);
  auto Command = [&](const char* sSyntax, const char* sHelp) {
    std::string sLine = std::string("  ") + sSyntax;
    sLine.resize(sLine.size() < 24 ? 24 : sLine.size() + 1, ' ');
    vecLines.emplace_back(sLine + sHelp, ScreenRole::kPlain);
  };
  for (const CommandRow& _Row : CommandRows()) {
    Command(_Row.sSyntax, _Row.sHelp);
    if (_Row.sMoreSyntax != nullptr) Command(_Row.sMoreSyntax, _Row.sMoreHelp);
  }
  return vecLines;
}

void PageLayout(const std::vector<std::pair<std::string, ScreenRole>>& vecLines,
                int iPageTop, ScreenFrame* pFrame, int iFirst, int iRows) {
  int iLast = static_cast<int>(vecLines.size()) - iRows;
  if (iPageTop > iLast) iPageTop = iLast;
  if (iPageTop < 0) iPageTop = 0;
  for (int i = 0; i < iRows && iPageTop + i < static_cast<int>(vecLines.size());
       ++i) {
    const auto& line = vecLines[static_cast<size_t>(iPageTop + i)];
    ScreenRowWriter(pFrame, iFirst + i).Put(0, pFrame->m_iWidth, line.first, line.second);
  }
  pFrame->m_iCursorRow = iFirst;
  pFrame->m_iCursorColumn = 0;
}

void MessageLine(const ScreenView& _View, ScreenFrame* pFrame, int iRow) {
  ScreenRowWriter _Writer(pFrame, iRow);
  int iWidth = pFrame->m_iWidth;
  if (_View.m_eInput == ScreenInput::kNone) {
    if (!_View.m_sMessage.empty()) {
      _Writer.Put(0, iWidth, _View.m_sMessage, ScreenRole::kMessage);
    } else if (!_View.m_sFilter.empty()) {
      _Writer.Put(0, iWidth, "Filter: " + _View.m_sFilter + "  (Esc clears)",
                  ScreenRole::kMuted);
    }
    return;
  }
  std::string sPrompt =
      _View.m_eInput == ScreenInput::kFilter    ? "/"
      : _View.m_eInput == ScreenInput::kCommand ? ":"
      : _View.m_eInput == ScreenInput::kWizard
          ? "User name or password refused. Run the connection wizard? [Y/n] "
          : "Password (not shown): ";
  int iUsed = _Writer.Put(0, iWidth, sPrompt, ScreenRole::kInput);
  if (_View.m_eInput != ScreenInput::kPassword) {
    // The end of a long line stays in sight.
    std::string sInput = _View.m_sInput;
    while (ScreenTextWidth(sInput) > iWidth - iUsed - 1 && !sInput.empty()) {
      size_t i = 1;
      while (i < sInput.size() && (static_cast<unsigned char>(sInput[i]) & 0xC0) == 0x80) ++i;
      sInput.erase(0, i);
    }
    iUsed += _Writer.Put(iUsed, iWidth - iUsed, sInput, ScreenRole::kInput);
  }
  pFrame->m_iCursorRow = iRow;
  pFrame->m_iCursorColumn = iUsed < iWidth ? iUsed : iWidth - 1;
}

void TooSmall(ScreenFrame* pFrame) {
  char cNeed[40];
  snprintf(cNeed, sizeof(cNeed), "needs %dx%d", kScreenMinWidth, kScreenMinHeight);
  const char* aLines[] = {"Terminal too small:", cNeed};
  for (int i = 0; i < 2 && i < pFrame->m_iHeight; ++i) {
    ScreenRowWriter(pFrame, i).Put(0, pFrame->m_iWidth, aLines[i], ScreenRole::kWarning);
  }
}

}  // namespace

std::string ScreenFrame::RowText(int iRow) const {
  std::string sText;
  for (int i = 0; i < m_iWidth; ++i) sText += At(iRow, i).m_sText;
  size_t iEnd = sText.find_last_not_of(' ');
  sText.erase(iEnd == std::string::npos ? 0 : iEnd + 1);
  return sText;
}

std::string ScreenFrame::Text() const {
  std::string sText;
  for (int i = 0; i < m_iHeight; ++i) sText += RowText(i) + "\n";
  return sText;
}

ScreenFrame ScreenLayout(const ScreenModel& _Model, const ScreenView& _View,
                         int iWidth, int iHeight, int64_t tNowMs, int64_t tNow) {
  ScreenFrame _Frame;
  _Frame.m_iWidth = iWidth > 0 ? iWidth : 0;
  _Frame.m_iHeight = iHeight > 0 ? iHeight : 0;
  _Frame.m_vecCells.resize(static_cast<size_t>(_Frame.m_iWidth * _Frame.m_iHeight));
  _Frame.m_TopKey = _View.m_TopKey;
  if (iWidth < kScreenMinWidth || iHeight < kScreenMinHeight) {
    TooSmall(&_Frame);
    return _Frame;
  }
  int iBodyRows = iHeight - 3;
  _Frame.m_iBodyRows = iBodyRows;
  ScreenRowWriter _Header(&_Frame, 0);
  _Header.Fill(0, iWidth, ScreenRole::kHeader);
  _Header.Put(0, iWidth, HeaderText(_Model, _View, tNowMs), ScreenRole::kHeader);
  if (_View.m_ePage == ScreenPage::kList) {
    ListLayout(_Model, _View, &_Frame, 1, iBodyRows, tNowMs, tNow).Run();
    _Frame.m_bBodyDimmed = _Model.m_bNoAnswer;
  } else if (_View.m_ePage == ScreenPage::kDetail) {
    PageLayout(DetailLines(_Model, _View, iWidth, tNow), _View.m_iPageTop, &_Frame,
               1, iBodyRows);
  } else {
    PageLayout(KeyLines(), _View.m_iPageTop, &_Frame, 1, iBodyRows);
  }
  MessageLine(_View, &_Frame, iHeight - 2);
  ScreenRowWriter _Keys(&_Frame, iHeight - 1);
  _Keys.Fill(0, iWidth, ScreenRole::kKeys);
  _Keys.Put(0, iWidth, ScreenKeyLine(_View.m_ePage != ScreenPage::kList),
            ScreenRole::kKeys);
  return _Frame;
}
