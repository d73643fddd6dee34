// The message line's words for the results of commands.
#include "console/screen/screen_messages.h"

std::string ScreenMessageOf(const CommandOutcome& _Outcome) {
  const CommandResult& _Result = _Outcome._Result;
  if (_Outcome.bReportResult) {
    std::string sText = ScreenMessageOf(_Result);
    if (!_Outcome.Succeeded() && !_Outcome.sError.empty() && _Result.sMessage.empty()) {
      sText += " (" + _Outcome.sError + ")";
    }
    return sText;
  }
  if (!_Outcome.sError.empty()) return _Result.sCommand + ": " + _Outcome.sError;
  if (_Outcome.pRow == nullptr || _Outcome.pRow->sDoneWords == nullptr) return "";
  return _Outcome.pRow->sDoneWords;
}

std::string ScreenMessageOf(const CommandResult& _Result) {
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
  ControllerText _Text = SplitControllerText(_Result.sMessage);
  return sText + "failed" + (_Text.sWords.empty() ? "" : ": " + _Text.sWords);
}
