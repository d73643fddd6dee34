#include "engine/model.h"

namespace Veru {

Section::Section(int iID) : m_iID(iID) {}

Room::Room(int iID) : m_iID(iID), m_iSection(0) {}

Category::Category(int iID) : m_iID(iID) {}

Scene::Scene(int iID)
    : m_iID(iID), m_iRoom(0), m_bActive(false), m_iState(-1) {}

Device::Device(int iID)
    : m_iID(iID), m_iRoom(0), m_iCategory(0), m_iState(-1) {}

std::string Device::GetVariable(const std::string& sName) const {
  auto it = m_mapVariables.find(sName);
  return it == m_mapVariables.end() ? std::string() : it->second;
}

Engine::Engine()
    : m_iSerialNumber(0),
      m_bUsingRemote(false),
      m_bUsingBackup(false),
      m_bRemoteAvailable(false),
      m_bLocalAvailable(false),
      m_bInvalidUserPass(false) {}

void Engine::UpdateAvailability() {
  m_bLocalAvailable = !m_sIp.empty();
  m_bRemoteAvailable =
      !m_sUsername.empty() && m_mapUsers.count(m_sUsername) != 0;
}

AccessMode Engine::Mode() const {
  if (m_sMode == "A") return AccessMode::kAutomatic;
  if (m_sMode == "L") return AccessMode::kLocalOnly;
  if (m_sMode == "R") return AccessMode::kRemoteOnly;
  return AccessMode::kUnset;
}

bool Engine::RemoteCredentialsUsable() const {
  return !m_sPassword.empty() && !m_bInvalidUserPass;
}

}  // namespace Veru
