// A device's history as the lines of the view's detail page.
#include "console/history/history_detail.h"

#include <cstdio>
#include <ctime>

#include "console/history/history_query.h"
#include "console/history/history_series.h"
#include "console/history/sparkline.h"
#include "engine/terminal_text.h"

namespace {

// The widest a variable's name is shown beside its sparkline.
constexpr size_t kNameWidth = 20;

std::string Number(double fValue) {
  char cText[32];
  snprintf(cText, sizeof(cText), "%g", fValue);
  return cText;
}

std::string ClockTime(int64_t tTime, int64_t tNow) {
  time_t tWhen = static_cast<time_t>(tTime);
  struct tm _Local;
  char cText[32] = "";
  if (localtime_r(&tWhen, &_Local) != nullptr) {
    // A change of another day shows its date too.
    strftime(cText, sizeof(cText),
             tNow - tTime < 20 * 3600 ? "%H:%M:%S" : "%m-%d %H:%M", &_Local);
  }
  return cText;
}

// Cuts a line to iWidth display columns (every block is one column).
std::string Fit(const std::string& sLine, int iWidth) {
  std::string sFitted;
  int iColumns = 0;
  for (size_t i = 0; i < sLine.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(sLine[i]);
    if ((c & 0xC0) != 0x80) {
      if (iColumns == iWidth) break;
      ++iColumns;
    }
    sFitted += sLine[i];
  }
  return sFitted;
}

}  // namespace

std::vector<std::string> HistoryDetailLines(const std::string& sPath,
                                            int iUnit, int iDevice,
                                            int64_t tNow, int iWidth,
                                            int iRows, bool bUnicode) {
  std::vector<std::string> vecLines;
  if (iRows <= 0 || iWidth <= 0) return vecLines;
  DeviceSeries _Series;
  std::string sReason;
  if (!ReadDeviceSeries(sPath, iUnit, iDevice, tNow - kSparklineSpan, tNow,
                        &_Series, &sReason)) {
    vecLines.push_back(Fit("History: " + sReason, iWidth));
    return vecLines;
  }
  vecLines.push_back("History (last 24 h)");
  for (const auto& variable : _Series.mapNumbers) {
    if (static_cast<int>(vecLines.size()) >= iRows) return vecLines;
    std::string sName = Veru::EscapeControlBytes(variable.first);
    if (sName.size() > kNameWidth) sName.resize(kNameWidth);
    sName.resize(kNameWidth, ' ');
    // The name, the line, and its range and last value after it.
    int iColumns = iWidth - static_cast<int>(kNameWidth) - 2 - 30;
    if (iColumns < 8) iColumns = 8;
    if (iColumns > 48) iColumns = 48;
    Sparkline _Line = MakeSparkline(variable.second, _Series.vecGaps,
                                    tNow - kSparklineSpan, tNow, iColumns,
                                    bUnicode);
    std::string sLine = "  " + sName + _Line.sLine;
    if (_Line.bAny) {
      sLine += "  " + Number(_Line.fMin) + ".." + Number(_Line.fMax) +
               " last " + Number(_Line.fLast);
    }
    vecLines.push_back(Fit(sLine, iWidth));
  }
  HistoryAnswer _Answer;
  if (static_cast<int>(vecLines.size()) + 1 >= iRows ||
      ReadHistory(sPath, iUnit, std::to_string(iDevice), tNow, kSparklineSpan,
                  &_Answer, &sReason) != HistoryRead::kRead ||
      _Answer.vecChanges.empty()) {
    return vecLines;
  }
  vecLines.push_back("Recent changes");
  size_t iRoom = static_cast<size_t>(iRows) - vecLines.size();
  size_t iFirst = _Answer.vecChanges.size() > iRoom
                      ? _Answer.vecChanges.size() - iRoom
                      : 0;
  for (size_t i = iFirst; i < _Answer.vecChanges.size(); ++i) {
    const HistoryEntry& _Entry = _Answer.vecChanges[i];
    vecLines.push_back(Fit(
        "  " + ClockTime(_Entry.tTime, tNow) + "  " +
            Veru::EscapeControlBytes(_Entry.sVariable) + " " +
            (_Entry.bHasPrevious ? Veru::EscapeControlBytes(_Entry.sPrevious)
                                 : std::string("(none)")) +
            " -> " + Veru::EscapeControlBytes(_Entry.sValue),
        iWidth));
  }
  return vecLines;
}
