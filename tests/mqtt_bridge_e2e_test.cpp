// The MQTT bridge end to end: the real program against the simulated home
// (with the real wget) and a real mosquitto that each test starts on a
// loopback port with a config of its own; the test's own MQTT client
// watches the broker and sends the commands.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/console_process.h"
#include "tests/wizard_texts.h"
#include "tests/mosquitto_process.h"
#include "tests/mqtt_probe.h"
#include "tests/sim_process.h"
#include "tests/test_util.h"

namespace {

constexpr int kPort = 18830;
const std::string kBase = "veru/45001";
const std::string kUrl = "mqtt://127.0.0.1:" + std::to_string(kPort);

// The lines of device iID's block in the simulator's dump.
std::string DeviceBlock(const std::string& sDump, int iID) {
  std::string sHead = "---DEVICE " + std::to_string(iID) + " ";
  size_t iStart = sDump.find(sHead);
  if (iStart == std::string::npos) return "";
  size_t iEnd = sDump.find("---DEVICE ", iStart + sHead.size());
  return sDump.substr(iStart, iEnd == std::string::npos ? std::string::npos
                                                        : iEnd - iStart);
}

// A device action sent to the simulated unit directly, as a change made at
// the unit itself.
bool ActAtTheUnit(const std::string& sQuery) {
  httplib::Client _Client("127.0.0.5", 3480);
  _Client.set_connection_timeout(2, 0);
  auto _Result = _Client.Get(("/data_request?id=lu_action&" + sQuery).c_str());
  return _Result && _Result->status == 200;
}

class MqttBridgeTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_Sim.Start());
    StoreDemoUnitSettings("127.0.0.5", false, "L", "");
  }

  // A second simulated unit, serial 45002, on addresses of its own (its
  // local address 127.0.0.6, its control port 3498), changing nothing by
  // itself.
  static void StartSecondSim(ConsoleProcess* pSim) {
    ASSERT_TRUE(pSim->StartWithArguments(
        VERU_SIM_PATH,
        {"--unit", "127.0.0.6", "--serial", "45002", "--fwd1", "127.0.0.1:3445",
         "--fwd2", "127.0.0.1:3446", "--locator-main", "127.0.0.1:3492",
         "--locator-backup", "127.0.0.1:3493", "--control", "127.0.0.1:3498",
         "--changes-per-second", "0"}));
  }

  void StartBroker(MosquittoProcess::Settings _Settings = {}) {
    std::string sError;
    ASSERT_TRUE(m_Broker.Start(_Settings, &sError)) << sError;
  }

  void StartConsole(ConsoleProcess* pConsole,
                    const std::vector<std::string>& vecArguments) {
    pConsole->KeepErrorsApart();
    ASSERT_TRUE(pConsole->StartWithArguments(VERU_CONSOLE_PATH, vecArguments));
  }

  // The simulator's device iID holds sLine ("   Status=1") before long.
  bool UnitShows(int iID, const std::string& sLine) {
    return WaitUntil([&] {
      return DeviceBlock(m_Sim.Control("dump"), iID).find(sLine + "\n") !=
             std::string::npos;
    });
  }

  ScratchDir m_Dir;
  SimProcess m_Sim;
  MosquittoProcess m_Broker;
};

TEST_F(MqttBridgeTest, RetainedStatesFollowTheHomeAndCommandsReachTheUnit) {
  StartBroker();
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl});
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  ASSERT_TRUE(_Probe.WaitFor(kBase + "/bridge/state", "{\"state\":\"online\"}"));
  ASSERT_TRUE(_Probe.WaitFor(kBase + "/bridge/unit", "{\"state\":\"online\"}"));
  ASSERT_TRUE(_Probe.WaitFor(kBase + "/scene/3", "\"name\":\"Away\""));
  ASSERT_TRUE(_Probe.WaitFor(kBase + "/device/20", "\"name\":\"Water valve\""));

  // A subscriber that comes later gets every state, retained: the device as
  // the --json stream's full event lists it.
  MqttProbe _Late;
  ASSERT_TRUE(_Late.Connect(kPort));
  ASSERT_TRUE(_Late.WaitFor(kBase + "/device/1",
                            "{\"id\":1,\"name\":\"Living room lamp\",\"room\":1,"
                            "\"category\":3,\"state\":-1,\"comment\":\"\","
                            "\"variables\":{\"Status\":\"0\",\"Target\":\"0\"}}"));
  ASSERT_TRUE(_Late.WaitFor(kBase + "/scene/3",
                            "{\"id\":3,\"name\":\"Away\",\"room\":0,"
                            "\"active\":true,\"state\":-1,\"comment\":\"\"}"));
  for (const MqttProbe::Message& _Message : _Late.Messages()) {
    EXPECT_TRUE(_Message.bRetained) << _Message.sTopic;
  }
  EXPECT_EQ(_Late.Latest(kBase + "/bridge/unit"), "{\"state\":\"online\"}");

  // A change at the unit reaches its topic.
  ASSERT_TRUE(ActAtTheUnit("DeviceNum=3&serviceId=urn:upnp-org:serviceId:"
                           "SwitchPower1&action=SetTarget&newTargetValue=1"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/3", "\"Status\":\"1\""));

  // Commands on the device topics, on BASE/command and on a scene's topic
  // reach the unit and are answered on BASE/result.
  struct Case {
    std::string sTopic;
    std::string sPayload;
    std::string sCommand;
  };
  const std::vector<Case> vecCases = {
      {kBase + "/device/1/set", "on", "1 on"},
      {kBase + "/device/2/set", "dim 30", "2 dim 30"},
      {kBase + "/device/8/set",
       "call urn:upnp-org:serviceId:TemperatureSetpoint1_Heat "
       "SetCurrentSetpoint NewCurrentSetpoint=22",
       "8 call urn:upnp-org:serviceId:TemperatureSetpoint1_Heat "
       "SetCurrentSetpoint NewCurrentSetpoint=22"},
      {kBase + "/command", "16 call urn:lumenhollow-com:serviceId:"
                           "SecuritySensor1 SetArmed newArmedValue=1",
       "16 call urn:lumenhollow-com:serviceId:SecuritySensor1 SetArmed "
       "newArmedValue=1"},
  };
  for (const Case& _Case : vecCases) {
    ASSERT_TRUE(_Probe.Publish(_Case.sTopic, _Case.sPayload));
    EXPECT_TRUE(_Probe.WaitForMessage(
        kBase + "/result",
        {"\"command\":\"" + _Case.sCommand + "\"", "\"result\":0",
         "\"topic\":\"" + _Case.sTopic + "\""}))
        << _Case.sPayload;
  }
  EXPECT_TRUE(UnitShows(1, "   Status=1"));
  EXPECT_TRUE(UnitShows(2, "   LoadLevelStatus=30"));
  EXPECT_TRUE(UnitShows(8, "   CurrentSetpoint=22"));
  EXPECT_TRUE(UnitShows(16, "   Armed=1"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/2", "\"LoadLevelStatus\":\"30\""));
  // Beside each switchable device, its on/off state and level by the
  // console's one rule.
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/2/state",
                             "{\"state\":\"on\",\"level\":30}"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/1/state",
                             "{\"state\":\"on\",\"level\":null}"));

  // Scenes: "Good night" switches the lights off; any payload on a scene's
  // topic runs it; a scene the unit does not have is its error.
  ASSERT_TRUE(_Probe.Publish(kBase + "/command", "scene 2"));
  EXPECT_TRUE(_Probe.WaitForMessage(
      kBase + "/result", {"\"command\":\"scene 2\"", "\"result\":0"}));
  EXPECT_TRUE(UnitShows(1, "   Status=0"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/scene/2", "\"active\":true"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/1", "\"Status\":\"0\""));
  ASSERT_TRUE(_Probe.Publish(kBase + "/scene/1/set", "ON"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/scene/1", "\"active\":true"));
  EXPECT_TRUE(UnitShows(19, "   Status=1"));
  ASSERT_TRUE(_Probe.Publish(kBase + "/scene/9/set", "ON"));
  EXPECT_TRUE(_Probe.WaitForMessage(
      kBase + "/result", {"\"command\":\"scene 9\"", "\"result\":-1",
                          "\"message\":\"No such scene: 9\""}));

  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/bridge/state", "{\"state\":\"offline\"}"));
  // The console's own output is as without the bridge: nothing of it on
  // standard output.
  EXPECT_EQ(_Console.Output().find("MQTT"), std::string::npos);
  EXPECT_NE(_Console.Errors().find("MQTT broker 127.0.0.1:18830 connected"),
            std::string::npos);
}

TEST_F(MqttBridgeTest, BadInputIsRefusedWithItsReasonAndNothingIsSent) {
  StartBroker();
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  // A retained command, there before the bridge subscribes: never obeyed.
  ASSERT_TRUE(_Probe.Publish(kBase + "/device/7/set", "on", true));
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl});
  ASSERT_TRUE(_Probe.WaitForMessage(
      kBase + "/result", {"\"topic\":\"" + kBase + "/device/7/set\"",
                          "\"result\":-1", "retained message is never obeyed"}));
  ASSERT_TRUE(_Probe.WaitFor(kBase + "/device/20", "Water valve"));
  std::string sBefore = m_Sim.Control("dump");

  struct Case {
    std::string sTopic;
    std::string sPayload;
    std::string sReason;
  };
  const std::vector<Case> vecCases = {
      {kBase + "/device/1/set", "\xff\xfe on", "not UTF-8"},
      {kBase + "/device/1/set", "o\x01n", "control character"},
      {kBase + "/device/1/set", "o\xc2\x85n", "control character"},
      {kBase + "/device/1/set", "off\n1 on", "line end"},
      {kBase + "/command", "1 on\r", "line end"},
      {kBase + "/device/1/set", std::string(1100, 'o') + "n",
       "longer than 1 KiB"},
      {kBase + "/device/abc/set", "on", "not a device number: abc"},
      {kBase + "/device/01/set", "on", "not a device number: 01"},
      {kBase + "/device/-1/set", "on", "not a device number: -1"},
      {kBase + "/device/99999999999/set", "on", "not a device number"},
      {kBase + "/scene/x/set", "ON", "not a scene number: x"},
      {kBase + "/device/1/set", "blink", "Unknown command: 1 blink"},
      {kBase + "/device/1/set", "", "an empty command"},
      {kBase + "/device/1/set", "connect", "connect is not taken from MQTT"},
      {kBase + "/command", "quit", "quit is not taken from MQTT"},
      {kBase + "/command", "suspend", "suspend is not taken from MQTT"},
      {kBase + "/command", "resume", "resume is not taken from MQTT"},
      {kBase + "/command", "show", "show is not taken from MQTT"},
      {kBase + "/command", "frobnicate", "Unknown command: frobnicate"},
      {kBase + "/command", "scene two", "scene needs a scene number"},
  };
  for (const Case& _Case : vecCases) {
    ASSERT_TRUE(_Probe.Publish(_Case.sTopic, _Case.sPayload));
    EXPECT_TRUE(_Probe.WaitForMessage(
        kBase + "/result", {"\"topic\":\"" + _Case.sTopic + "\"",
                            "\"result\":-1", _Case.sReason}))
        << _Case.sTopic << " " << _Case.sPayload;
  }
  EXPECT_EQ(m_Sim.Control("dump"), sBefore);
  // The bridge and the console go on: a good command still runs.
  ASSERT_TRUE(_Probe.Publish(kBase + "/device/1/set", "on"));
  EXPECT_TRUE(UnitShows(1, "   Status=1"));
  EXPECT_TRUE(DeviceBlock(m_Sim.Control("dump"), 7).find("   Status=0\n") !=
              std::string::npos);
  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
}

TEST_F(MqttBridgeTest, LastWillAfterAKillAndOfflineAfterQuit) {
  StartBroker();
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  {
    ConsoleProcess _Console;
    StartConsole(&_Console, {"--mqtt", kUrl});
    ASSERT_TRUE(_Probe.WaitFor(kBase + "/bridge/state", "online"));
    _Console.Signal(SIGKILL);
    EXPECT_EQ(_Console.WaitForExit(), 128 + SIGKILL);
  }
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/bridge/state", "{\"state\":\"offline\"}"));

  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl});
  ASSERT_TRUE(_Probe.WaitFor(kBase + "/bridge/state", "online"));
  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
  MqttProbe _Late;
  ASSERT_TRUE(_Late.Connect(kPort));
  EXPECT_TRUE(_Late.WaitFor(kBase + "/bridge/state", "{\"state\":\"offline\"}"));
}

TEST_F(MqttBridgeTest, StatesComeBackWhenTheBrokerStartsLateOrRestarts) {
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl});
  // The console follows the unit without the broker.
  ASSERT_TRUE(_Console.WaitFor("======================FULLDATA:"));
  ASSERT_TRUE(_Console.WaitForError("MQTT broker 127.0.0.1:18830 cannot be "
                                    "reached"));
  StartBroker();
  ASSERT_TRUE(_Console.WaitForError("MQTT broker 127.0.0.1:18830 connected"));
  EXPECT_EQ(CountOf(_Console.Errors(), "cannot be reached"), 1u);
  {
    MqttProbe _Probe;
    ASSERT_TRUE(_Probe.Connect(kPort));
    EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/1", "Living room lamp"));
    EXPECT_TRUE(_Probe.WaitFor(kBase + "/bridge/unit", "online"));
  }

  // A restarted broker has forgotten everything; the bridge publishes it
  // all again.
  m_Broker.Stop();
  std::string sError;
  ASSERT_TRUE(m_Broker.Restart(&sError)) << sError;
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/1", "Living room lamp"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/scene/2", "Good night"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/bridge/state", "online"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/bridge/unit", "online"));
  EXPECT_EQ(CountOf(_Console.Errors(), "connected"), 2u);
  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
}

TEST_F(MqttBridgeTest, PasswordFromTheEnvironmentOnlyAndRefusalEnds) {
  const std::string sPassword = "s3cret-Bridge-pw";
  MosquittoProcess::Settings _Settings;
  _Settings.sUser = "bridge";
  _Settings.sPassword = sPassword;
  StartBroker(_Settings);
  const std::string sUrl = "mqtt://bridge@127.0.0.1:" + std::to_string(kPort);
  {
    ScopedEnv _Env("VERU_MQTT_PASSWORD", sPassword.c_str());
    ConsoleProcess _Console;
    StartConsole(&_Console, {"--mqtt", sUrl});
    MqttProbe _Probe;
    ASSERT_TRUE(_Probe.Connect(kPort, "#", "bridge", sPassword));
    ASSERT_TRUE(_Probe.WaitFor(kBase + "/device/1", "Living room lamp"));
    std::string sCommandLine =
        ReadFile("/proc/" + std::to_string(_Console.Pid()) + "/cmdline");
    EXPECT_NE(sCommandLine.find("--mqtt"), std::string::npos);
    EXPECT_EQ(sCommandLine.find(sPassword), std::string::npos);
    EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
    EXPECT_EQ(_Console.Output().find(sPassword), std::string::npos);
    EXPECT_EQ(_Console.Errors().find(sPassword), std::string::npos);
    EXPECT_EQ(FilesHolding(sPassword), "");
  }
  ScopedEnv _Env("VERU_MQTT_PASSWORD", "wrong");
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", sUrl});
  EXPECT_EQ(_Console.WaitForExit(), 2);
  EXPECT_EQ(CountOf(_Console.Errors(), "refused the user name or password"), 1u)
      << _Console.Errors();
}

TEST_F(MqttBridgeTest, TlsWithTheBrokersAuthorityAndNotWithoutIt) {
  const TestCertificate& _Certificate = TestCertificate::Get();
  ASSERT_TRUE(_Certificate.Valid());
  MosquittoProcess::Settings _Settings;
  _Settings.sCertFile = _Certificate.CertFile();
  _Settings.sKeyFile = _Certificate.KeyFile();
  StartBroker(_Settings);
  const std::string sUrl = "mqtts://127.0.0.1:" + std::to_string(kPort);
  {
    // The system's authorities do not know the test's certificate.
    ConsoleProcess _Console;
    StartConsole(&_Console, {"--mqtt", sUrl});
    EXPECT_TRUE(_Console.WaitForError("cannot be reached"));
    EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
    EXPECT_EQ(_Console.Errors().find("connected"), std::string::npos);
  }
  ScopedEnv _Env("VERU_MQTT_CA_CERTIFICATE", _Certificate.CertFile().c_str());
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", sUrl});
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort, "#", "", "", _Certificate.CertFile()));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/1", "Living room lamp"));
  EXPECT_TRUE(_Console.WaitForError("connected"));
  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
}

TEST_F(MqttBridgeTest, DiscoveryConfigsForEachComponentAndAgainOnHomeAssistantStart) {
  StartBroker();
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl});
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  const std::string sAvailability =
      "\"availability\":[{\"topic\":\"veru/45001/bridge/state\","
      "\"value_template\":\"{{ value_json.state }}\"},{\"topic\":"
      "\"veru/45001/bridge/unit\",\"value_template\":\"{{ value_json.state "
      "}}\"}],\"availability_mode\":\"all\"";
  struct Case {
    std::string sTopic;
    std::vector<std::string> vecParts;
  };
  const std::vector<Case> vecCases = {
      {"homeassistant/light/veru_45001_2/config",
       {"\"unique_id\":\"veru_45001_2\"", "\"suggested_area\":\"Living room\"",
        "\"via_device\":\"veru_45001\"", "\"origin\":{\"name\":\"veru-console\"",
        "\"command_topic\":\"veru/45001/device/2/set\"",
        "\"brightness_scale\":100", "\"brightness_command_template\":\"dim {{ value }}\"",
        "\"state_topic\":\"veru/45001/device/2/state\"",
        "\"state_value_template\":\"{{ value_json.state }}\"",
        "\"brightness_state_topic\":\"veru/45001/device/2/state\"",
        "\"brightness_value_template\":\"{{ value_json.level }}\"",
        sAvailability}},
      {"homeassistant/switch/veru_45001_1/config",
       {"\"command_topic\":\"veru/45001/device/1/set\"", "\"payload_on\":\"on\"",
        "\"state_topic\":\"veru/45001/device/1/state\"",
        "\"value_template\":\"{{ value_json.state }}\"", sAvailability}},
      {"homeassistant/binary_sensor/veru_45001_4/config",
       {"value_json.variables.Tripped", "\"suggested_area\":\"Kitchen\""}},
      {"homeassistant/sensor/veru_45001_5/config",
       {"\"device_class\":\"temperature\"", "\"state_class\":\"measurement\"",
        "value_json.variables.CurrentTemperature"}},
      {"homeassistant/sensor/veru_45001_12/config",
       {"value_json.variables.CurrentLevel", "\"state_class\":\"measurement\""}},
      {"homeassistant/scene/veru_45001_scene_1/config",
       {"\"command_topic\":\"veru/45001/scene/1/set\"",
        "\"unique_id\":\"veru_45001_scene_1\"", sAvailability}},
  };
  for (const Case& _Case : vecCases) {
    EXPECT_TRUE(_Probe.WaitForMessage(_Case.sTopic, _Case.vecParts))
        << _Case.sTopic << ": " << _Probe.Latest(_Case.sTopic);
  }
  // The camera reports none of those variables: no entity.
  EXPECT_EQ(_Probe.CountWithPrefix("homeassistant/sensor/veru_45001_10/"), 0u);

  // Home Assistant starts: every config and state again.
  ASSERT_TRUE(WaitUntil(
      [&] { return _Probe.CountWithPrefix("homeassistant/") == 22u; }));
  size_t iStates = _Probe.CountWithPrefix(kBase + "/device/");
  ASSERT_TRUE(_Probe.Publish("homeassistant/status", "online"));
  EXPECT_TRUE(WaitUntil(
      [&] { return _Probe.CountWithPrefix("homeassistant/") == 2 * 22u + 1; }))
      << _Probe.CountWithPrefix("homeassistant/");
  EXPECT_TRUE(WaitUntil(
      [&] { return _Probe.CountWithPrefix(kBase + "/device/") >= 2 * iStates; }));
  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
}

TEST_F(MqttBridgeTest, DiscoveryOffAndAnotherTopicBase) {
  StartBroker();
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl, "--mqtt-discovery", "off",
                           "--mqtt-topic", "home/unit-a"});
  ASSERT_TRUE(_Probe.WaitFor("home/unit-a/device/20", "Water valve"));
  ASSERT_TRUE(_Probe.Publish("home/unit-a/device/1/set", "on"));
  EXPECT_TRUE(UnitShows(1, "   Status=1"));
  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
  EXPECT_EQ(_Probe.CountWithPrefix("homeassistant/"), 0u);
  EXPECT_EQ(_Probe.CountWithPrefix("veru/"), 0u);
}

TEST_F(MqttBridgeTest, TwoConsolesForTwoUnitsIntoOneBroker) {
  StartBroker();
  ConsoleProcess _SecondSim;
  StartSecondSim(&_SecondSim);
  ASSERT_EQ(mkdir("second", 0700), 0);
  ASSERT_EQ(chdir("second"), 0);
  WriteFile("arg_serialnumber", "45002");
  WriteFile("arg_ip", "127.0.0.6");
  WriteFile("arg_mode", "L");
  ConsoleProcess _Second;
  StartConsole(&_Second, {"--mqtt", kUrl});
  ASSERT_EQ(chdir(".."), 0);
  ConsoleProcess _First;
  StartConsole(&_First, {"--mqtt", kUrl});

  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  ASSERT_TRUE(_Probe.WaitFor("veru/45001/device/1", "Living room lamp"));
  ASSERT_TRUE(_Probe.WaitFor("veru/45002/device/1", "Living room lamp"));
  ASSERT_TRUE(_Probe.WaitFor("homeassistant/switch/veru_45002_1/config",
                             "veru/45002/device/1/set"));
  ASSERT_TRUE(_Probe.Publish("veru/45002/device/1/set", "on"));
  EXPECT_TRUE(_Probe.WaitFor("veru/45002/device/1", "\"Status\":\"1\""));
  EXPECT_TRUE(_Probe.WaitFor("veru/45001/bridge/state", "online"));
  EXPECT_TRUE(_Probe.WaitFor("veru/45002/bridge/state", "online"));
  // The first unit was not touched.
  EXPECT_NE(DeviceBlock(m_Sim.Control("dump"), 1).find("   Status=0\n"),
            std::string::npos);
  EXPECT_EQ(_Probe.Latest("veru/45001/device/1").find("\"Status\":\"1\""),
            std::string::npos);

  EXPECT_EQ(m_Sim.QuitConsole(&_First), 0);
  _Second.WriteLine("quit");
  EXPECT_TRUE(_Second.WaitForEnd(15000) || (_Second.Signal(SIGTERM), true));
  EXPECT_TRUE(_Probe.WaitFor("veru/45002/bridge/state", "offline"));
  _SecondSim.Signal(SIGTERM);
  _SecondSim.WaitForExit(5000);
}

// The console turned to another unit: the bridge follows it. A second
// simulated unit, serial 45002, whose home has no device 20.
TEST_F(MqttBridgeTest, ConnectingToAnotherUnitMovesTheBridge) {
  StartBroker();
  // Started in the same second as the first unit, most likely: the
  // console asks it for everything all the same.
  ConsoleProcess _SecondSim;
  StartSecondSim(&_SecondSim);
  httplib::Client _Control("127.0.0.1", 3498);
  ASSERT_TRUE(WaitUntil([&] {
    auto _Result = _Control.Get("/control?cmd=remove_device&id=20");
    return _Result && _Result->body == "ok\n";
  }));
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  auto ConnectTo = [&](ConsoleProcess* pConsole, const std::string& sIp) {
    pConsole->WriteLine("connect");
    ASSERT_TRUE(pConsole->WaitFor(kNamePrompt)) << pConsole->Output();
    pConsole->WriteLine(sIp);
  };

  // The default base, veru/SERIAL: the old one is left as a console that
  // ends leaves it; the new one is served, its Last Will included.
  {
    ConsoleProcess _Console;
    StartConsole(&_Console, {"--mqtt", kUrl});
    ASSERT_TRUE(_Probe.WaitFor("veru/45001/bridge/unit", "online"));
    ASSERT_TRUE(_Probe.WaitFor("veru/45001/device/20", "Water valve"));
    ConnectTo(&_Console, "127.0.0.6");
    EXPECT_TRUE(_Probe.WaitFor("veru/45002/device/1", "Living room lamp"));
    EXPECT_TRUE(_Probe.WaitFor("veru/45002/bridge/state", "online"));
    EXPECT_TRUE(_Probe.WaitFor("veru/45002/bridge/unit", "online"));
    EXPECT_TRUE(_Probe.WaitFor("homeassistant/switch/veru_45002_1/config",
                               "veru/45002/device/1/state"));
    EXPECT_TRUE(_Probe.WaitFor("veru/45001/bridge/state", "offline"));
    EXPECT_TRUE(_Probe.WaitFor("veru/45001/bridge/unit", "offline"));
    EXPECT_FALSE(_Probe.Has("veru/45002/device/20"));
    // Commands are taken on the new base.
    ASSERT_TRUE(_Probe.Publish("veru/45002/device/1/set", "on"));
    EXPECT_TRUE(_Probe.WaitFor("veru/45002/device/1", "\"Status\":\"1\""));
    _Console.Signal(SIGKILL);
    EXPECT_EQ(_Console.WaitForExit(), 128 + SIGKILL);
    EXPECT_TRUE(_Probe.WaitFor("veru/45002/bridge/state", "offline"));
    EXPECT_EQ(_Probe.Latest("veru/45001/bridge/state"), "{\"state\":\"offline\"}");
  }

  // --mqtt-topic: the base stays; the old unit's configs are cleared and
  // the new unit's made; the device the new unit lacks is cleared.
  StoreDemoUnitSettings("127.0.0.5", false, "L", "");
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl, "--mqtt-topic", "home/a"});
  ASSERT_TRUE(_Probe.WaitFor("home/a/device/20", "Water valve"));
  ASSERT_TRUE(_Probe.WaitFor("homeassistant/switch/veru_45001_20/config",
                             "home/a/device/20/state"));
  ConnectTo(&_Console, "127.0.0.6");
  EXPECT_TRUE(_Probe.WaitFor("homeassistant/switch/veru_45002_1/config",
                             "home/a/device/1/set"));
  EXPECT_TRUE(WaitUntil([&] {
    return _Probe.Latest("home/a/device/20").empty() &&
           _Probe.Latest("home/a/device/20/state").empty() &&
           _Probe.Latest("homeassistant/switch/veru_45001_20/config").empty() &&
           _Probe.Latest("homeassistant/switch/veru_45001_1/config").empty();
  })) << _Probe.Latest("home/a/device/20");
  EXPECT_NE(_Probe.Latest("home/a/device/1").find("Living room lamp"),
            std::string::npos);
  EXPECT_EQ(_Probe.Latest("home/a/bridge/state"), "{\"state\":\"online\"}");
  EXPECT_EQ(_Probe.Latest("home/a/bridge/unit"), "{\"state\":\"online\"}");
  _Console.WriteLine("quit");
  EXPECT_EQ(_Console.WaitForExit(), 0);
  EXPECT_TRUE(_Probe.WaitFor("home/a/bridge/state", "offline"));
  _SecondSim.Signal(SIGTERM);
  _SecondSim.WaitForExit(5000);
}

TEST_F(MqttBridgeTest, TheEndOfInputDoesNotEndTheBridgeAndUsageErrors) {
  StartBroker();
  ConsoleProcess _Console;
  StartConsole(&_Console, {"--mqtt", kUrl});
  MqttProbe _Probe;
  ASSERT_TRUE(_Probe.Connect(kPort));
  ASSERT_TRUE(_Probe.WaitFor(kBase + "/device/1", "Living room lamp"));
  _Console.CloseInput();
  // Still a service: it takes commands after the end of its input.
  ASSERT_TRUE(_Probe.Publish(kBase + "/device/1/set", "on"));
  EXPECT_TRUE(_Probe.WaitFor(kBase + "/device/1", "\"Status\":\"1\""));
  EXPECT_FALSE(_Console.WaitForEnd(200));
  _Console.Signal(SIGTERM);
  EXPECT_EQ(_Console.WaitForExit(), 128 + SIGTERM);

  struct Case {
    std::vector<std::string> vecArguments;
    std::string sError;
  };
  const std::vector<Case> vecCases = {
      {{"--mqtt", kUrl, "--once"}, "--mqtt --once"},
      {{"--mqtt", kUrl, "--do", "1 on"}, "--mqtt --do"},
      {{"--mqtt", "http://127.0.0.1"}, "not an mqtt:// or mqtts:// URL"},
      {{"--mqtt", "mqtt://u:p@127.0.0.1"}, "VERU_MQTT_PASSWORD"},
      {{"--mqtt", "mqtt://127.0.0.1:0"}, "not 1-65535"},
      {{"--mqtt", kUrl, "--mqtt-topic", "a/#"}, "wildcard"},
      {{"--mqtt-topic", "a/b"}, "--mqtt-topic without --mqtt"},
  };
  for (const Case& _Case : vecCases) {
    ProgramRun _Run = RunProgram(_Case.vecArguments, VERU_CONSOLE_PATH);
    EXPECT_EQ(_Run.iStatus, 2) << _Case.sError;
    EXPECT_NE(_Run.sErrors.find(_Case.sError), std::string::npos) << _Run.sErrors;
  }
  // No unit saved and no terminal: nobody can choose one.
  ASSERT_EQ(unlink("arg_serialnumber"), 0);
  ProgramRun _Run = RunProgram({"--mqtt", kUrl}, VERU_CONSOLE_PATH);
  EXPECT_EQ(_Run.iStatus, 2);
  EXPECT_NE(_Run.sErrors.find("no unit saved"), std::string::npos);
}

TEST_F(MqttBridgeTest, ScenesRunFromTheConsole) {
  ConsoleProcess _Console;
  ASSERT_TRUE(_Console.Start(VERU_CONSOLE_PATH));
  ASSERT_TRUE(_Console.WaitFor("======================FULLDATA:"));
  _Console.WriteLine("1 on");
  ASSERT_TRUE(UnitShows(1, "   Status=1"));
  _Console.WriteLine("scene 2");
  EXPECT_TRUE(_Console.WaitFor(
      "GET:http://127.0.0.5:3480/data_request?id=lu_action&serviceId=urn:"
      "lumenhollow-com:serviceId:HomeAutomationGateway1&action=RunScene&"
      "SceneNum=2&output_format=json"));
  EXPECT_TRUE(_Console.WaitFor("----COMMAND RESULT: 0 "));
  EXPECT_TRUE(UnitShows(1, "   Status=0"));
  EXPECT_TRUE(_Console.WaitFor("-----SCENE 2 Good night room 3 active 1"));
  _Console.WriteLine("scene 7");
  EXPECT_TRUE(_Console.WaitFor("----COMMAND RESULT: -1  No such scene: 7"));
  EXPECT_EQ(m_Sim.QuitConsole(&_Console), 0);
}

}  // namespace
