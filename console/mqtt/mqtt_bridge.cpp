// The MQTT bridge: reports to retained states, messages to commands (see
// mqtt_bridge.h).
#include "console/mqtt/mqtt_bridge.h"

#include <unistd.h>

#include <map>
#include <set>

#include "console/mqtt/mqtt_incoming.h"
#include "console/report/report_event.h"

namespace {

const char kOfflinePayload[] = "{\"state\":\"offline\"}";

}  // namespace

MqttBridge::MqttBridge(Settings _Settings, int iSerialNumber,
                       MqttCommands::ReadFunction fRead,
                       MqttCommands::RunFunction fRun,
                       MqttClient::FatalFunction fFatal)
    : m_Settings(std::move(_Settings)),
      m_iSerialNumber(iSerialNumber),
      m_fRead(std::move(fRead)),
      m_fRun(std::move(fRun)),
      m_fFatal(std::move(fFatal)) {}

MqttBridge::~MqttBridge() { OnStop(); }

bool MqttBridge::Start(std::string* pError) {
  if (m_Settings.m_Url.m_bTls && !m_Settings.m_sCaFile.empty() &&
      access(m_Settings.m_sCaFile.c_str(), R_OK) != 0) {
    *pError = "VERU_MQTT_CA_CERTIFICATE: cannot read " + m_Settings.m_sCaFile;
    return false;
  }
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (m_iSerialNumber != 0) Connect(m_iSerialNumber);
  return true;
}

void MqttBridge::SwitchUnit(int iSerialNumber) {
  m_iUnit = iSerialNumber;
  if (!m_Settings.m_sBase.empty()) {
    m_pRetained->SwitchUnit(MqttTopics(m_Settings.m_sBase,
                                       m_Settings.m_sDiscoveryPrefix,
                                       iSerialNumber));
    return;
  }
  // The old base no longer serves: neither the bridge nor the unit.
  m_pRetained->SetUnit(false);
  Disconnect();
  m_pClient.reset();
  m_pCommands.reset();
  m_pRetained.reset();
  m_pTopics.reset();
  Connect(iSerialNumber);
}

void MqttBridge::Disconnect() {
  // The commands first: the fetch of one still running was ended with the
  // program's other fetches, and its result may still go out.
  if (m_pCommands) m_pCommands->Stop();
  if (m_pClient) m_pClient->Stop(m_pTopics->BridgeState(), kOfflinePayload);
}

void MqttBridge::Connect(int iSerialNumber) {
  m_iUnit = iSerialNumber;
  std::string sBase = m_Settings.m_sBase.empty()
                          ? "veru/" + std::to_string(iSerialNumber)
                          : m_Settings.m_sBase;
  m_pTopics = std::make_unique<MqttTopics>(sBase, m_Settings.m_sDiscoveryPrefix,
                                           iSerialNumber);
  m_pRetained = std::make_unique<MqttRetained>(
      *m_pTopics, [this](const std::string& sTopic, const std::string& sPayload,
                         int iQos, bool bRetain) {
        return m_pClient->Publish(sTopic, sPayload, iQos, bRetain);
      });
  m_pCommands = std::make_unique<MqttCommands>(
      m_fRead, m_fRun,
      [this](const std::string& sPayload) { PublishResult(sPayload); });
  MqttClient::Settings _Client;
  _Client.m_Url = m_Settings.m_Url;
  _Client.m_sPassword = m_Settings.m_sPassword;
  _Client.m_sCaFile = m_Settings.m_sCaFile;
  _Client.m_sWillTopic = m_pTopics->BridgeState();
  _Client.m_sWillPayload = kOfflinePayload;
  _Client.m_vecSubscriptions = m_pTopics->Subscriptions();
  _Client.m_pCounts = &m_Counts;
  m_pClient = std::make_unique<MqttClient>(
      _Client, [this] { RepublishAll(); },
      [this](const std::string& sTopic, const std::string& sPayload,
             bool bRetained) { OnMessage(sTopic, sPayload, bRetained); },
      m_fFatal);
  // Kept until the connection publishes everything.
  m_pRetained->SetUnit(m_bUnitOnline);
  std::string sError;
  if (!m_pClient->Start(&sError)) {
    fprintf(stderr, "veru-console: MQTT: %s\n", sError.c_str());
  }
}

void MqttBridge::OnMessage(const std::string& sTopic,
                           const std::string& sPayload, bool bRetained) {
  std::string sID;
  MqttTopics::Incoming eKind = m_pTopics->Read(sTopic, &sID);
  if (eKind == MqttTopics::Incoming::kDiscoveryStatus) {
    // Home Assistant has started: it gets every config and state again.
    if (sPayload == "online") RepublishAll();
    return;
  }
  if (eKind == MqttTopics::Incoming::kOther) return;
  m_pCommands->Submit(ReadMqttMessage(eKind, sID, sTopic, sPayload, bRetained));
}

void MqttBridge::RepublishAll() {
  m_pClient->BeginBatch();
  m_pRetained->RepublishAll();
  m_pClient->EndBatch();
}

void MqttBridge::PublishResult(const std::string& sPayload) {
  m_pClient->Publish(m_pTopics->Result(), sPayload, 0, false);
}

void MqttBridge::OnReport(const ReportEvent& _Event) {
  using Kind = ReportEvent::Kind;
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  if (_Event.m_iSerialNumber != 0 && _Event.m_iSerialNumber != m_iUnit) {
    if (!m_pTopics) {
      Connect(_Event.m_iSerialNumber);
    } else {
      SwitchUnit(_Event.m_iSerialNumber);
    }
  }
  bool bOnline = m_bUnitOnline;
  switch (_Event.m_iKind) {
    case Kind::kFull:
    case Kind::kPartial:
    case Kind::kDevice:
    case Kind::kScene:
    case Kind::kConnectionRestored:
      if (!_Event.m_bShown) bOnline = true;
      break;
    case Kind::kConnectionLost:
      bOnline = false;
      break;
    default:
      break;
  }
  m_bUnitOnline = bOnline;
  if (!m_pRetained) return;
  m_pRetained->SetUnit(bOnline);
  if (!_Event.m_bShown) Model(_Event);
}

void MqttBridge::Model(const ReportEvent& _Event) {
  using Kind = ReportEvent::Kind;
  if (_Event.m_iKind == Kind::kDevice && _Event.m_pDevice) {
    m_pRetained->SetDevice(*_Event.m_pDevice);
  } else if (_Event.m_iKind == Kind::kScene && _Event.m_pScene) {
    m_pRetained->SetScene(*_Event.m_pScene);
  } else if (_Event.m_iKind == Kind::kFull && _Event.m_pModel) {
    m_pClient->BeginBatch();
    const ModelSnapshot& _Model = *_Event.m_pModel;
    std::map<int, std::string> mapRoomName;
    for (const Veru::Room& _Room : _Model.m_vecRoom) {
      mapRoomName[_Room.m_iID] = _Room.m_sName;
    }
    m_pRetained->SetRooms(std::move(mapRoomName));
    std::set<int> setDevices;
    std::set<int> setScenes;
    for (const Veru::Device& _Device : _Model.m_vecDevice) {
      setDevices.insert(_Device.m_iID);
      m_pRetained->SetDevice(_Device);
    }
    for (const Veru::Scene& _Scene : _Model.m_vecScene) {
      setScenes.insert(_Scene.m_iID);
      m_pRetained->SetScene(_Scene);
    }
    m_pRetained->KeepOnly(setDevices, setScenes);
    m_pClient->EndBatch();
  }
}

void MqttBridge::OnStop() {
  std::lock_guard<std::mutex> _Lock(m_Mutex);
  Disconnect();
}
