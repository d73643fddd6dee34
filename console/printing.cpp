// The printed home model: one function per kind of line, so a format change
// touches one place. Called by the engine on the poll thread; OnDevice and
// OnScene run inside a merge with the model mutex held, OnEngineState and
// OnFullData after it; none of them locks. With --json each of them writes
// its JSON event instead.
#include <charconv>
#include <cstdio>
#include <string>

#include "console/front_end.h"
#include "engine/poll_loop.h"
#include "engine/terminal_text.h"

namespace {

// Appends a text the unit sent, every byte of it (a NUL too), with its
// control bytes escaped so that it cannot drive the terminal.
void AppendText(std::string* pOut, const std::string& sText) {
  Veru::AppendEscaped(pOut, sText);
}

void AppendInt(std::string* pOut, int iValue) {
  char cDigits[16];
  auto result = std::to_chars(cDigits, cDigits + sizeof(cDigits), iValue);
  pOut->append(cDigits, static_cast<size_t>(result.ptr - cDigits));
}

}  // namespace

// A device block is built whole and written with one call: it reaches the
// terminal in one piece, never split by a line of the console thread (which
// is why it is not a run of printf calls, as the scene line is).
void FrontEnd::OnDevice(Veru::Device* pDevice) {
  if (m_pJsonEvents != nullptr) return m_pJsonEvents->Device(*pDevice);
  std::string sBlock;
  std::string* pBlock = &sBlock;
  pBlock->append("---DEVICE ");
  AppendInt(pBlock, pDevice->m_iID);
  pBlock->push_back(' ');
  AppendText(pBlock, pDevice->m_sName);
  pBlock->append(" room ");
  AppendInt(pBlock, pDevice->m_iRoom);
  pBlock->append(" category ");
  AppendInt(pBlock, pDevice->m_iCategory);
  pBlock->append(" state ");
  AppendInt(pBlock, pDevice->m_iState);
  pBlock->append(" comment ");
  AppendText(pBlock, pDevice->m_sComment);
  pBlock->push_back('\n');
  for (const auto& variable : pDevice->m_mapVariables) {
    pBlock->append("   ");
    AppendText(pBlock, variable.first);
    pBlock->push_back('=');
    AppendText(pBlock, variable.second);
    pBlock->push_back('\n');
  }
  fwrite(pBlock->data(), 1, pBlock->size(), stdout);
}

void FrontEnd::OnScene(Veru::Scene* pScene) {
  if (m_pJsonEvents != nullptr) return m_pJsonEvents->Scene(*pScene);
  printf("-----SCENE %d %s room %d active %d state %d comment %s\n",
         pScene->m_iID, Veru::EscapeControlBytes(pScene->m_sName).c_str(),
         pScene->m_iRoom, pScene->m_bActive ? 1 : 0, pScene->m_iState,
         Veru::EscapeControlBytes(pScene->m_sComment).c_str());
}

void FrontEnd::OnEngineState() {
  if (m_pJsonEvents != nullptr) return m_pJsonEvents->EngineState(*m_pPollLoop);
  Veru::PollLoop* pPollLoop = m_pPollLoop;
  printf("--ENGINE state %d comment %s loadtime %d dataversion %d\n",
         pPollLoop->m_iState,
         Veru::EscapeControlBytes(pPollLoop->m_sComment).c_str(),
         pPollLoop->m_iLoadTime, pPollLoop->m_iDataVersion);
  if (pPollLoop->m_bZWaveHeal) printf("--------NEED TO HEAL----------\n");
}

void FrontEnd::OnFullData() {
  PrintFullData();
  // --once: this was the report asked for; the poll thread sends nothing
  // more.
  if (m_Options.m_bOnce) {
    m_bReported = true;
    m_pPollLoop->m_bQuit = true;
  }
}

void FrontEnd::PrintFullData() {
  if (m_pJsonEvents != nullptr) return m_pJsonEvents->Full(*m_pPollLoop);
  printf("======================FULLDATA:\n");
  OnEngineState();
  for (const auto& device : m_pPollLoop->m_mapDevice) OnDevice(device.second);
  for (const auto& scene : m_pPollLoop->m_mapScene) OnScene(scene.second);
}
