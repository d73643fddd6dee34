// "history [DEVICE] [SPAN]": read, then answered from the file.
#include "console/history/history_command.h"

HistoryOutcome RunHistoryCommand(const std::string& sArguments,
                                 const std::string& sPath, int iUnit,
                                 int64_t tNow) {
  HistoryOutcome _Outcome;
  std::string sDevice;
  int64_t iSpan = 0;
  if (!ReadHistoryArguments(sArguments, &sDevice, &iSpan, &_Outcome.sError)) {
    _Outcome.iStatus = 2;
    return _Outcome;
  }
  switch (ReadHistory(sPath, iUnit, sDevice, tNow, iSpan, &_Outcome._Answer,
                      &_Outcome.sError)) {
    case HistoryRead::kRead:
      break;
    case HistoryRead::kNoFile:
      _Outcome.iStatus = 1;
      break;
    case HistoryRead::kUnknownDevice:
      _Outcome.iStatus = 2;
      break;
  }
  return _Outcome;
}

std::string HistoryText(const HistoryAnswer& _Answer) {
  std::string sText;
  for (const HistoryEntry& _Entry : _Answer.vecChanges) {
    sText += FormatHistoryLine(_Entry) + "\n";
  }
  return sText;
}
