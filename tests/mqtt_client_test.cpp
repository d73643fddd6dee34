// The broker connection against a real mosquitto started by the test: what
// it does when the broker refuses its password after it has been
// connected. The pauses between attempts are the clock seam's, so the test
// sees each one as asked for and a 60-second pause passes at once.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "console/mqtt/mqtt_client.h"
#include "tests/fake_clock.h"
#include "tests/mosquitto_process.h"
#include "tests/test_util.h"

namespace {

constexpr int kPort = 18831;

TEST(MqttClientTest, ALaterRefusalIsToldOnceAndTriedAgainEveryMinute) {
  MosquittoProcess _Broker;
  MosquittoProcess::Settings _BrokerSettings;
  _BrokerSettings.iPort = kPort;
  _BrokerSettings.sUser = "bridge";
  _BrokerSettings.sPassword = "first-Pw";
  std::string sError;
  ASSERT_TRUE(_Broker.Start(_BrokerSettings, &sError)) << sError;

  // The pauses the client asks for, in order.
  std::mutex _Mutex;
  std::vector<int> vecPauses;
  FakeClock::SetSleepHook([&](int iMs) {
    if (iMs < 1000) return;
    std::lock_guard<std::mutex> _Lock(_Mutex);
    vecPauses.push_back(iMs);
  });
  auto Pauses = [&] {
    std::lock_guard<std::mutex> _Lock(_Mutex);
    return vecPauses;
  };

  CapturedOutput _Errors(CapturedOutput::Stream::kStderr);
  std::atomic<int> iConnections{0};
  std::atomic<bool> bFatal{false};
  MqttClient::Settings _Settings;
  _Settings.m_Url.m_sHost = "127.0.0.1";
  _Settings.m_Url.m_iPort = kPort;
  _Settings.m_Url.m_sUser = "bridge";
  _Settings.m_sPassword = "first-Pw";
  _Settings.m_sWillTopic = "t/bridge/state";
  _Settings.m_sWillPayload = "{\"state\":\"offline\"}";
  MqttClient _Client(
      _Settings, [&] { ++iConnections; }, nullptr,
      [&](const std::string&) { bFatal = true; });
  ASSERT_TRUE(_Client.Start(&sError)) << sError;
  ASSERT_TRUE(WaitUntil([&] { return iConnections == 1; }));

  // The broker no longer takes the password: the connection is dropped,
  // tried again after the first pause, refused, and from then on tried
  // again after the longest pause each time.
  ASSERT_TRUE(_Broker.ChangePassword("second-Pw", &sError)) << sError;
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<int> vecSeen = Pauses();
    return vecSeen.size() >= 4;
  })) << "pauses: " << Pauses().size();
  std::vector<int> vecSeen = Pauses();
  EXPECT_EQ(vecSeen[0], 1000);
  for (size_t i = 1; i < vecSeen.size(); ++i) EXPECT_EQ(vecSeen[i], 60000) << i;
  EXPECT_FALSE(_Client.Connected());

  // The old password again: the next attempt connects.
  ASSERT_TRUE(_Broker.ChangePassword("first-Pw", &sError)) << sError;
  EXPECT_TRUE(WaitUntil([&] { return iConnections == 2; }));
  _Client.Stop("t/bridge/state", "{\"state\":\"offline\"}");
  FakeClock::SetSleepHook(nullptr);
  EXPECT_FALSE(bFatal);
  std::string sText = _Errors.Text();
  EXPECT_EQ(CountOf(sText, "refused the user name or password"), 1u) << sText;
  EXPECT_NE(sText.find("refused the user name or password (Connection "
                       "Refused: not authorised.); trying again every 60 s"),
            std::string::npos)
      << sText;
  EXPECT_EQ(CountOf(sText, "MQTT broker 127.0.0.1:18831 connected"), 2u);
}

}  // namespace
