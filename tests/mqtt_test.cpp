// The bridge's pure parts: the broker URL, the topics, what a message from
// the broker may be, the retained states (published once per change,
// cleared when gone), the command runner's refusals, and "scene N" read by
// the command table.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "console/commands/command_table.h"
#include "console/mqtt/mqtt_commands.h"
#include "console/mqtt/mqtt_incoming.h"
#include "console/mqtt/mqtt_on_off.h"
#include "console/mqtt/mqtt_retained.h"
#include "console/mqtt/mqtt_topics.h"
#include "console/mqtt/mqtt_url.h"
#include "tests/test_util.h"

namespace {

TEST(MqttUrlTest, ReadsTheFormsAndRefusesTheRest) {
  struct Case {
    std::string sText;
    bool bTls;
    std::string sUser;
    std::string sHost;
    int iPort;
  };
  const std::vector<Case> vecGood = {
      {"mqtt://broker", false, "", "broker", 1883},
      {"mqtts://broker", true, "", "broker", 8883},
      {"mqtt://ha@10.0.0.2:1884", false, "ha", "10.0.0.2", 1884},
      {"mqtts://me@[::1]:9000/", true, "me", "::1", 9000},
  };
  for (const Case& _Case : vecGood) {
    MqttUrl _Url;
    std::string sError;
    ASSERT_TRUE(ParseMqttUrl(_Case.sText, &_Url, &sError)) << _Case.sText;
    EXPECT_EQ(_Url.m_bTls, _Case.bTls);
    EXPECT_EQ(_Url.m_sUser, _Case.sUser);
    EXPECT_EQ(_Url.m_sHost, _Case.sHost);
    EXPECT_EQ(_Url.m_iPort, _Case.iPort);
  }
  for (const char* sBad :
       {"http://broker", "mqtt://", "mqtt://:1883", "mqtt://h:0", "mqtt://h:65536",
        "mqtt://h:12x", "mqtt://h:", "mqtt://u:pw@h", "mqtt://@h", "mqtt://h/topic",
        "mqtt://h x", "mqtt://[::1"}) {
    MqttUrl _Url;
    std::string sError;
    EXPECT_FALSE(ParseMqttUrl(sBad, &_Url, &sError)) << sBad;
    EXPECT_FALSE(sError.empty());
  }
}

TEST(MqttTopicsTest, ReadsIncomingTopicsAndIdNumbers) {
  MqttTopics _Topics("veru/45001", "homeassistant", 45001);
  using Incoming = MqttTopics::Incoming;
  const std::vector<std::tuple<std::string, Incoming, std::string>> vecCases = {
      {"veru/45001/device/5/set", Incoming::kDeviceSet, "5"},
      {"veru/45001/device/x/set", Incoming::kDeviceSet, "x"},
      {"veru/45001/scene/3/set", Incoming::kSceneSet, "3"},
      {"veru/45001/command", Incoming::kCommand, ""},
      {"homeassistant/status", Incoming::kDiscoveryStatus, ""},
      {"veru/45001/device/5", Incoming::kOther, ""},
      {"veru/45001/device/5/x/set", Incoming::kOther, ""},
      {"veru/45002/device/5/set", Incoming::kOther, ""},
      {"veru/45001/result", Incoming::kOther, ""},
  };
  for (const auto& _Case : vecCases) {
    std::string sID;
    EXPECT_EQ(_Topics.Read(std::get<0>(_Case), &sID), std::get<1>(_Case))
        << std::get<0>(_Case);
    EXPECT_EQ(sID, std::get<2>(_Case));
  }
  int iID = 0;
  EXPECT_TRUE(ReadIdNumber("2147483647", &iID));
  EXPECT_EQ(iID, 2147483647);
  for (const char* sBad : {"", "0", "01", "-1", "+1", "2147483648", "1e3", "5 "}) {
    EXPECT_FALSE(ReadIdNumber(sBad, &iID)) << sBad;
  }
  EXPECT_EQ(_Topics.DiscoveryConfig("light", 2, false),
            "homeassistant/light/veru_45001_2/config");
  EXPECT_EQ(_Topics.DiscoveryConfig("scene", 2, true),
            "homeassistant/scene/veru_45001_scene_2/config");
  // Discovery off: Home Assistant's status is not listened to.
  MqttTopics _NoDiscovery("veru/45001", "", 45001);
  EXPECT_EQ(_NoDiscovery.Subscriptions().size(), 3u);
  std::string sID;
  EXPECT_EQ(_NoDiscovery.Read("homeassistant/status", &sID), Incoming::kOther);
}

TEST(MqttIncomingTest, PayloadsThatAreNotOneCommandLine) {
  EXPECT_EQ(PayloadProblem("dim 30"), "");
  EXPECT_EQ(PayloadProblem("Küche an"), "");
  EXPECT_EQ(PayloadProblem(std::string(1024, 'a')), "");
  for (const std::string& sBad :
       {std::string(1025, 'a'), std::string("a\xff"), std::string("\xc0\xaf"),
        std::string("on\n"), std::string("on\r"), std::string("o\tn"),
        std::string("o\x7fn"), std::string("o\xc2\x9bn"),
        std::string("o\xe2\x80\xa8n"), std::string("o\0n", 3)}) {
    EXPECT_NE(PayloadProblem(sBad), "") << sBad;
  }
  MqttTopics _Topics("b", "", 1);
  MqttRequest _Request = ReadMqttMessage(MqttTopics::Incoming::kDeviceSet, "5",
                                         "b/device/5/set", "dim 30", false);
  EXPECT_EQ(_Request.sLine, "5 dim 30");
  EXPECT_TRUE(_Request.bDeviceOnly);
  EXPECT_EQ(_Request.sRefusal, "");
  _Request = ReadMqttMessage(MqttTopics::Incoming::kSceneSet, "3",
                             "b/scene/3/set", "anything", false);
  EXPECT_EQ(_Request.sLine, "scene 3");
  _Request = ReadMqttMessage(MqttTopics::Incoming::kCommand, "", "b/command",
                             "5 on", true);
  EXPECT_EQ(_Request.sRefusal, "a retained message is never obeyed");
}

// Every publish the retained states make, in order.
struct Published {
  std::string sTopic;
  std::string sPayload;
  bool bRetain;
};

Veru::Device Lamp(int iID, const std::string& sStatus) {
  Veru::Device _Device(iID);
  _Device.m_sName = "Lamp " + std::to_string(iID);
  _Device.m_iRoom = 1;
  _Device.m_mapVariables["Status"] = sStatus;
  return _Device;
}

TEST(MqttRetainedTest, PublishesChangesOnceAndClearsWhatIsGone) {
  MqttTopics _Topics("b", "ha", 7);
  std::vector<Published> vecPublished;
  bool bConnected = true;
  MqttRetained _Retained(_Topics, [&](const std::string& sTopic,
                                      const std::string& sPayload, int,
                                      bool bRetain) {
    if (bConnected) vecPublished.push_back({sTopic, sPayload, bRetain});
    return bConnected;
  });
  _Retained.SetRooms({{1, "Hall"}});
  _Retained.SetDevice(Lamp(1, "0"));
  ASSERT_EQ(vecPublished.size(), 3u);
  EXPECT_EQ(vecPublished[0].sTopic, "b/device/1");
  EXPECT_EQ(vecPublished[1].sTopic, "b/device/1/state");
  EXPECT_EQ(vecPublished[1].sPayload, "{\"state\":\"off\",\"level\":null}");
  EXPECT_EQ(vecPublished[2].sTopic, "ha/switch/veru_7_1/config");
  EXPECT_NE(vecPublished[2].sPayload.find("\"suggested_area\":\"Hall\""),
            std::string::npos);
  // The same state again: nothing; a change: the state alone.
  _Retained.SetDevice(Lamp(1, "0"));
  EXPECT_EQ(vecPublished.size(), 3u);
  _Retained.SetDevice(Lamp(1, "1"));
  ASSERT_EQ(vecPublished.size(), 5u);
  EXPECT_EQ(vecPublished[3].sTopic, "b/device/1");
  EXPECT_EQ(vecPublished[4].sPayload, "{\"state\":\"on\",\"level\":null}");
  // Away from the broker: only the latest state is kept, and everything
  // goes out again on the next connection.
  bConnected = false;
  _Retained.SetDevice(Lamp(1, "0"));
  _Retained.SetDevice(Lamp(2, "1"));
  bConnected = true;
  vecPublished.clear();
  _Retained.RepublishAll();
  std::set<std::string> setTopics;
  for (const Published& _Published : vecPublished) {
    EXPECT_TRUE(_Published.bRetain);
    setTopics.insert(_Published.sTopic);
  }
  EXPECT_EQ(setTopics, (std::set<std::string>{
                           "b/bridge/state", "b/bridge/unit", "b/device/1",
                           "b/device/1/state", "b/device/2", "b/device/2/state",
                           "ha/switch/veru_7_1/config",
                           "ha/switch/veru_7_2/config"}));
  EXPECT_NE(_Retained.DevicePayload(1).find("\"Status\":\"0\""),
            std::string::npos);
  // A device a full reply no longer has: its state and config cleared.
  vecPublished.clear();
  _Retained.KeepOnly({1}, {});
  ASSERT_EQ(vecPublished.size(), 3u);
  EXPECT_EQ(vecPublished[0].sTopic, "b/device/2");
  EXPECT_EQ(vecPublished[1].sTopic, "b/device/2/state");
  EXPECT_EQ(vecPublished[2].sTopic, "ha/switch/veru_7_2/config");
  for (const Published& _Published : vecPublished) {
    EXPECT_EQ(_Published.sPayload, "") << _Published.sTopic;
  }
  // A device that becomes dimmable changes component: the old config goes.
  vecPublished.clear();
  Veru::Device _Dimmer = Lamp(1, "1");
  _Dimmer.m_mapVariables["LoadLevelStatus"] = "40";
  _Retained.SetDevice(_Dimmer);
  ASSERT_EQ(vecPublished.size(), 4u);
  EXPECT_EQ(vecPublished[1].sPayload, "{\"state\":\"on\",\"level\":40}");
  EXPECT_EQ(vecPublished[2].sTopic, "ha/switch/veru_7_1/config");
  EXPECT_EQ(vecPublished[2].sPayload, "");
  EXPECT_EQ(vecPublished[3].sTopic, "ha/light/veru_7_1/config");
}

// The on/off state beside a device follows the console's one rule
// (DeviceStateOf): Status when it is 0 or 1, else the level; none for a
// device without the variables the rule reads.
TEST(MqttOnOffTest, StateAndLevelFollowTheConsolesRule) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    Pairs vecVariables;
    std::string sPayload;
  };
  const std::vector<Case> vecCases = {
      {{{"Status", "1"}}, "{\"state\":\"on\",\"level\":null}"},
      {{{"Status", "0"}, {"LoadLevelStatus", "60"}},
       "{\"state\":\"off\",\"level\":60}"},
      {{{"Status", "2"}, {"LoadLevelStatus", "30"}},
       "{\"state\":\"on\",\"level\":30}"},
      {{{"LoadLevelStatus", " 0 "}}, "{\"state\":\"off\",\"level\":0}"},
      {{{"LoadLevelStatus", "101"}}, "{\"state\":null,\"level\":null}"},
      {{{"Status", "on"}}, "{\"state\":null,\"level\":null}"},
      {{{"LoadLevelTarget", "50"}}, "{\"state\":null,\"level\":null}"},
      {{{"Tripped", "1"}, {"CurrentLevel", "5"}}, ""},
      {{}, ""},
  };
  for (const Case& _Case : vecCases) {
    Veru::Device _Device(3);
    for (const auto& variable : _Case.vecVariables) {
      _Device.m_mapVariables[variable.first] = variable.second;
    }
    EXPECT_EQ(OnOffPayload(_Device), _Case.sPayload)
        << (_Case.vecVariables.empty() ? "" : _Case.vecVariables[0].second);
  }
}

TEST(MqttCommandsTest, RunsDeviceCommandsAndScenesOnlyAndAnswersEach) {
  std::vector<std::string> vecRun;
  std::vector<std::string> vecResults;
  std::mutex _Mutex;
  MqttCommands _Commands(
      [](const std::string& sLine) { return ReadCommandLine(sLine, nullptr); },
      [&](const CommandLine& _Command) {
        CommandOutcome _Outcome;
        _Outcome.bCommand = true;
        _Outcome.pRow = _Command.pRow;
        _Outcome._Result.iKind = CommandResult::Kind::kAction;
        _Outcome._Result.iResult = 0;
        std::lock_guard<std::mutex> _Lock(_Mutex);
        vecRun.push_back(_Command.sLine);
        return _Outcome;
      },
      [&](const std::string& sPayload) {
        std::lock_guard<std::mutex> _Lock(_Mutex);
        vecResults.push_back(sPayload);
      });
  const std::vector<std::pair<std::string, bool>> vecLines = {
      {"5 on", true},    {"scene 3", true}, {"quit", false}, {"connect", false},
      {"suspend", false}, {"help", false},  {"show 5", false}, {"5", false},
  };
  for (const auto& _Line : vecLines) {
    MqttRequest _Request;
    _Request.sTopic = "b/command";
    _Request.sLine = _Line.first;
    _Commands.Submit(_Request);
  }
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> _Lock(_Mutex);
    return vecResults.size() == vecLines.size();
  }));
  _Commands.Stop();
  EXPECT_EQ(vecRun, (std::vector<std::string>{"5 on", "scene 3"}));
  for (size_t i = 0; i < vecLines.size(); ++i) {
    bool bRun = vecLines[i].second;
    EXPECT_NE(vecResults[i].find(bRun ? "\"result\":0" : "\"result\":-1"),
              std::string::npos)
        << vecResults[i];
    EXPECT_NE(vecResults[i].find("\"topic\":\"b/command\""), std::string::npos);
  }
}

TEST(SceneCommandTest, SceneTakesOneSceneNumber) {
  CommandLine _Command = ReadCommandLine("scene 12", nullptr);
  ASSERT_NE(_Command.pRow, nullptr);
  EXPECT_EQ(_Command.pRow->eKind, CommandKind::kScene);
  EXPECT_EQ(_Command.iScene, 12);
  for (const char* sBad : {"scene", "scene 0", "scene -1", "scene x",
                           "scene 3 4", "scene 99999999999"}) {
    CommandLine _Bad = ReadCommandLine(sBad, nullptr);
    EXPECT_EQ(_Bad.pRow, nullptr) << sBad;
    EXPECT_FALSE(_Bad.sError.empty()) << sBad;
  }
}

}  // namespace
