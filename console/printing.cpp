// The printed home model: one function per kind of line, so a format change
// touches one place. Called by the engine on the poll thread; OnDevice and
// OnScene run inside a merge with the model mutex held, OnEngineState and
// OnFullData after it; none of them locks.
#include <cstdio>

#include "console/front_end.h"
#include "engine/poll_loop.h"

void FrontEnd::OnDevice(Veru::Device* pDevice) {
  printf("---DEVICE %d %s room %d category %d state %d comment %s\n",
         pDevice->m_iID, pDevice->m_sName.c_str(), pDevice->m_iRoom,
         pDevice->m_iCategory, pDevice->m_iState, pDevice->m_sComment.c_str());
  for (const auto& variable : pDevice->m_mapVariables) {
    printf("   %s=%s\n", variable.first.c_str(), variable.second.c_str());
  }
}

void FrontEnd::OnScene(Veru::Scene* pScene) {
  printf("-----SCENE %d %s room %d active %d state %d comment %s\n",
         pScene->m_iID, pScene->m_sName.c_str(), pScene->m_iRoom,
         pScene->m_bActive ? 1 : 0, pScene->m_iState,
         pScene->m_sComment.c_str());
}

void FrontEnd::OnEngineState() {
  Veru::PollLoop* pPollLoop = m_pPollLoop;
  printf("--ENGINE state %d comment %s loadtime %d dataversion %d\n",
         pPollLoop->m_iState, pPollLoop->m_sComment.c_str(),
         pPollLoop->m_iLoadTime, pPollLoop->m_iDataVersion);
  if (pPollLoop->m_bZWaveHeal) printf("--------NEED TO HEAL----------\n");
}

void FrontEnd::OnFullData() {
  printf("======================FULLDATA:\n");
  OnEngineState();
  for (const auto& device : m_pPollLoop->m_mapDevice) OnDevice(device.second);
  for (const auto& scene : m_pPollLoop->m_mapScene) OnScene(scene.second);
}
