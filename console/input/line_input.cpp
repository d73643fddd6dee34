#include "console/input/line_input.h"

#include <algorithm>
#include <cstring>

#include "console/input/edited_terminal.h"
#include "console/input/quiet_terminal.h"

namespace {

// Copies at most the first 99 characters of sLine into cBuffer.
void KeepAnswer(const std::string& sLine, char* cBuffer) {
  size_t iLength = std::min(sLine.size(), static_cast<size_t>(kAnswerBufferSize - 1));
  memcpy(cBuffer, sLine.data(), iLength);
  cBuffer[iLength] = '\0';
}

// Tells on standard error that a line of iBytes bytes is refused.
LineRead RefuseLine(size_t iBytes, std::string* psLine) {
  psLine->clear();
  fprintf(stderr, "%s", TooLongLineMessage(iBytes).c_str());
  return LineRead::kTooLong;
}

}  // namespace

std::string TooLongLineMessage(size_t iBytes) {
  return "veru-console: a command line of " + std::to_string(iBytes) +
         " bytes is longer than " + std::to_string(kCommandLineMaxBytes) +
         "; nothing of it is run\n";
}

LineInput::LineInput() : m_pFile(stdin) {}

LineInput::~LineInput() = default;

bool LineInput::StartEditing(const std::string& sHistoryFile) {
  if (m_pEditing || m_pFile != stdin) return false;
  std::unique_ptr<EditedTerminal> pEditing(new EditedTerminal());
  if (!pEditing->Start(sHistoryFile)) return false;
  m_pEditing = std::move(pEditing);
  return true;
}

void LineInput::StopEditing() {
  if (m_pEditing) m_pEditing->Stop();
  m_pEditing.reset();
}

LineRead LineInput::ReadCommandLine(std::string* psLine) {
  psLine->clear();
  if (m_pEditing) {
    if (!m_pEditing->ReadLine(psLine)) return LineRead::kEnd;
  } else {
    // A result line ends without a line end: show it before waiting, also
    // when standard output is a pipe.
    fflush(stdout);
    bool bAny = false;
    size_t iLength = 0;
    for (;;) {
      int c = fgetc(m_pFile);
      if (c == EOF) break;
      bAny = true;
      if (c == '\n') break;
      // A line too long is read to its end, so its tail never becomes a
      // line of its own; only its length is kept.
      ++iLength;
      if (iLength <= kCommandLineMaxBytes) psLine->push_back(static_cast<char>(c));
    }
    if (!bAny) return LineRead::kEnd;
    if (iLength > kCommandLineMaxBytes) return RefuseLine(iLength, psLine);
  }
  if (psLine->size() > kCommandLineMaxBytes) {
    return RefuseLine(psLine->size(), psLine);
  }
  return LineRead::kLine;
}

void LineInput::Remember(const std::string& sLine) {
  if (m_pEditing && !sLine.empty()) m_pEditing->Remember(sLine);
}

bool LineInput::ReadAnswer(char* cBuffer) {
  cBuffer[0] = '\0';
  if (m_pEditing) {
    std::string sLine;
    bool bAny = m_pEditing->ReadAnswer(&sLine);
    KeepAnswer(bAny ? sLine : std::string(), cBuffer);
    return bAny;
  }
  // A prompt ends without a line end: show it before waiting.
  fflush(stdout);
  int iLength = 0;
  bool bAny = false;
  for (;;) {
    int c = fgetc(m_pFile);
    if (c == EOF) break;
    bAny = true;
    if (c == '\n') break;
    // The rest of a long answer is read and dropped, so it never becomes
    // the next command or answer.
    if (iLength < kAnswerBufferSize - 1) cBuffer[iLength++] = static_cast<char>(c);
  }
  cBuffer[iLength] = '\0';
  return bAny;
}

bool LineInput::ReadSecretAnswer(char* cBuffer) {
  QuietTerminal _Quiet(fileno(m_pFile));
  return ReadAnswer(cBuffer);
}
