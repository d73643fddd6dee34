// The text report: one function per kind of line, so a format change
// touches one place.
#include "console/report/text_report.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "console/commands/command_table.h"
#include "console/history/history_command.h"
#include "engine/output_line.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

// Appends a text the unit sent, every byte of it (a NUL too), with its
// control bytes escaped so that it cannot drive the terminal.
void AppendText(std::string* pOut, const std::string& sText) {
  Veru::AppendEscaped(pOut, sText);
}

void AppendInt(std::string* pOut, int64_t iValue) {
  char cDigits[24];
  auto result = std::to_chars(cDigits, cDigits + sizeof(cDigits), iValue);
  pOut->append(cDigits, static_cast<size_t>(result.ptr - cDigits));
}

// "---DEVICE 5 name room 1 category 3 state -1 comment text\n" and one
// "   NAME=VALUE\n" line per variable.
void AppendDevice(std::string* pBlock, const Veru::Device& _Device) {
  pBlock->append("---DEVICE ");
  AppendInt(pBlock, _Device.m_iID);
  pBlock->push_back(' ');
  AppendText(pBlock, _Device.m_sName);
  pBlock->append(" room ");
  AppendInt(pBlock, _Device.m_iRoom);
  pBlock->append(" category ");
  AppendInt(pBlock, _Device.m_iCategory);
  pBlock->append(" state ");
  AppendInt(pBlock, _Device.m_iState);
  pBlock->append(" comment ");
  AppendText(pBlock, _Device.m_sComment);
  pBlock->push_back('\n');
  for (const auto& variable : _Device.m_mapVariables) {
    pBlock->append("   ");
    AppendText(pBlock, variable.first);
    pBlock->push_back('=');
    AppendText(pBlock, variable.second);
    pBlock->push_back('\n');
  }
}

void AppendScene(std::string* pLine, const Veru::Scene& _Scene) {
  pLine->append("-----SCENE ");
  AppendInt(pLine, _Scene.m_iID);
  pLine->push_back(' ');
  AppendText(pLine, _Scene.m_sName);
  pLine->append(" room ");
  AppendInt(pLine, _Scene.m_iRoom);
  pLine->append(" active ");
  AppendInt(pLine, _Scene.m_bActive ? 1 : 0);
  pLine->append(" state ");
  AppendInt(pLine, _Scene.m_iState);
  pLine->append(" comment ");
  AppendText(pLine, _Scene.m_sComment);
  pLine->push_back('\n');
}

void AppendEngineState(std::string* pLines, const Veru::PollLoop& _PollLoop) {
  pLines->append("--ENGINE state ");
  AppendInt(pLines, _PollLoop.m_iState);
  pLines->append(" comment ");
  AppendText(pLines, _PollLoop.m_sComment);
  pLines->append(" loadtime ");
  AppendInt(pLines, _PollLoop.m_iLoadTime);
  pLines->append(" dataversion ");
  AppendInt(pLines, _PollLoop.m_iDataVersion);
  pLines->push_back('\n');
  if (_PollLoop.m_bZWaveHeal) pLines->append("--------NEED TO HEAL----------\n");
}

// The controller's error text: its control bytes escaped, but the line
// end(s) it ends with kept as line ends (a carriage return before them is
// dropped), so the next output starts on a line of its own.
void AppendMessage(std::string* pOut, const std::string& sMessage) {
  ControllerText _Text = SplitControllerText(sMessage);
  AppendText(pOut, _Text.sLeading + _Text.sWords);
  pOut->append(static_cast<size_t>(_Text.iLineEnds), '\n');
}

}  // namespace

std::string CameraURLLine(const CommandResult& _Result) {
  std::string sLine;
  if (_Result.iKind == CommandResult::Kind::kImage) {
    sLine.append("\n---URL for camera image: ");
    AppendText(&sLine, _Result.sURL);
    sLine.push_back('\n');
  } else if (_Result.iKind == CommandResult::Kind::kStream) {
    sLine.append("\n---URL type: ");
    AppendText(&sLine, _Result.sType);
    sLine.append(" for camera stream: ");
    AppendText(&sLine, _Result.sURL);
    sLine.push_back('\n');
  }
  return sLine;
}

void TextReport::WriteReport(const std::string& sText) {
  fwrite(sText.data(), 1, sText.size(), m_pOutput);
  if (m_pOutput == stdout) Veru::NoteStandardOutput(sText.data(), sText.size());
}

void TextReport::Device(const Veru::Device& _Device, bool /*bShown*/) {
  std::string sBlock;
  AppendDevice(&sBlock, _Device);
  WriteReport(sBlock);
}

void TextReport::Scene(const Veru::Scene& _Scene) {
  std::string sLine;
  AppendScene(&sLine, _Scene);
  WriteReport(sLine);
}

void TextReport::EngineState(const Veru::PollLoop& _PollLoop) {
  std::string sLines;
  AppendEngineState(&sLines, _PollLoop);
  WriteReport(sLines);
}

void TextReport::Full(const Veru::PollLoop& _PollLoop, bool /*bShown*/) {
  std::string sReport = "======================FULLDATA:\n";
  AppendEngineState(&sReport, _PollLoop);
  for (const auto& device : _PollLoop.m_mapDevice) {
    AppendDevice(&sReport, *device.second);
  }
  for (const auto& scene : _PollLoop.m_mapScene) {
    AppendScene(&sReport, *scene.second);
  }
  WriteReport(sReport);
}

void TextReport::Partial(int iDataVersion, int iLoadTime) {
  std::string sLine = "==========PARTIAL: dataversion ";
  AppendInt(&sLine, iDataVersion);
  sLine.append(" loadtime ");
  AppendInt(&sLine, iLoadTime);
  sLine.push_back('\n');
  WriteReport(sLine);
}

void TextReport::PasswordNeeded() {
  printf("PASSWORD NEEDED:  PRESS ENTER\n");
}

void TextReport::UserPasswordNeeded() {
  printf("USER/PASSWORD NEEDED:  PRESS ENTER\n");
}

void TextReport::ConnectionRetry(bool bRemote) {
  printf("******CONNECTION RETRY remote: %d******\n", bRemote ? 1 : 0);
}

void TextReport::UnableToConnect() { printf("Unable to connect.\n"); }

void TextReport::ConnectionLost() { printf("******CONNECTION LOST******\n"); }

void TextReport::NoResponse(int iCount, int64_t tElapsed) {
  printf("!!!!!!!!!! NO RESPONSE COUNT %d time %ld !!!!!!!!!\n", iCount,
         static_cast<long>(tElapsed));
}

void TextReport::ConnectionRestored(int64_t tOutageSeconds) {
  Veru::BeginErrorLine();
  fprintf(stderr, "veru-console: connection restored after %s\n",
          FormatSpan(tOutageSeconds).c_str());
}

void TextReport::Result(const CommandResult& _Result) {
  std::string sText = CameraURLLine(_Result);
  // The result line has no line end of its own: the prompt-less console
  // leaves the cursor after it.
  sText.append("\n----COMMAND RESULT: ");
  AppendInt(&sText, _Result.iResult);
  sText.push_back(' ');
  AppendMessage(&sText, _Result.sMessage);
  if (m_bResultLineEnds && sText.back() != '\n') sText.push_back('\n');
  WriteReport(sText);
  fflush(m_pOutput);
}

void TextReport::NoSuchDevice(const std::string& /*sCommand*/,
                              const std::string& sWord) {
  Veru::BeginErrorLine();
  fprintf(stderr, "No such device: %s\n", sWord.c_str());
}

void TextReport::Help() {
  Veru::BeginErrorLine();
  fprintf(stderr, "Commands (one per line):\n");
  PrintCommands(stderr);
}

void TextReport::Notice(const std::string& sText) {
  Veru::BeginErrorLine();
  fprintf(stderr, "veru-console: %s\n", sText.c_str());
}

// The changes on the report's stream, one a line; a word on standard error
// when there is none.
void TextReport::History(const HistoryAnswer& _Answer) {
  std::string sText = HistoryText(_Answer);
  if (sText.empty()) {
    fprintf(stderr, "veru-console: no change in the history since %s\n",
            FormatHistoryTime(_Answer.tSince).c_str());
    return;
  }
  WriteReport(sText);
  fflush(m_pOutput);
}
