// The MQTT bridge's speed and size, against a real mosquitto on loopback
// (started here, as the tests start it), with ratios taken within one run:
//
//  (1) a device change: from the merged reply's report (the fan-out's
//      Device, as the poll thread calls it) to a subscriber's receipt
//      through the broker, against a bare libmosquitto publish-to-receive
//      round trip on the same broker (median of 300 each; goal <= 2);
//  (2) a 10,000-device full reply: from its report (a) until the bridge has
//      written the last of its 10,000 device messages to the broker's
//      socket (goal <= 1.5 times the merge) and (b) until a subscriber has
//      received them all, each against the merge of that reply (parse +
//      ParseStatus, the least of five). The publishing runs on the bridge's
//      threads: the poll thread pays the snapshot's copy only, inside Full,
//      after the merge;
//  (3) the bridge's own memory for that home (the heap it holds once the
//      reply is published) against the model's heap (goal <= 1).
//
// Prints its figures and the three ratios. Needs mosquitto installed.
#include <json-c/json.h>
#include <malloc.h>
#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/synthetic_replies.h"
#include "console/mqtt/mqtt_bridge.h"
#include "console/report/device_json_text.h"
#include "console/report/json_objects.h"
#include "console/report/report_fan_out.h"
#include "engine/poll_loop.h"
#include "tests/mosquitto_process.h"
#include "tests/mqtt_probe.h"
#include "tests/test_util.h"
#include "tests/wired_front_end.h"

namespace {

constexpr int kPort = 18839;
constexpr int kSerial = 35000001;
constexpr int kRounds = 300;
constexpr int kDevices = 10000;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point tStart) {
  return std::chrono::duration<double>(Clock::now() - tStart).count();
}

double Median(std::vector<double> vecValues) {
  std::sort(vecValues.begin(), vecValues.end());
  return vecValues[vecValues.size() / 2];
}

// Waits (spinning briefly) until fDone holds; false after 30 s.
template <class Done>
bool SpinUntil(Done fDone) {
  Clock::time_point tStart = Clock::now();
  while (!fDone()) {
    if (Since(tStart) > 30) return false;
    std::this_thread::yield();
  }
  return true;
}

// Waits until fDone holds, looking every 0.2 ms and sleeping in between, so
// that the waiting takes no core from the threads it waits for; false after
// 30 s.
template <class Done>
bool NapUntil(Done fDone) {
  Clock::time_point tStart = Clock::now();
  while (!fDone()) {
    if (Since(tStart) > 30) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// A subscriber that counts the messages on the device topics and remembers
// the last payload it got.
struct Counter {
  std::atomic<int> m_iCount{0};
  mosquitto* m_pMosq = nullptr;

  bool Connect(const std::string& sFilter) {
    m_pMosq = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(
        m_pMosq, [](mosquitto*, void* pThis, const mosquitto_message*) {
          ++static_cast<Counter*>(pThis)->m_iCount;
        });
    int iMid = 0;
    return mosquitto_connect(m_pMosq, "127.0.0.1", kPort, 30) == 0 &&
           mosquitto_subscribe(m_pMosq, &iMid, sFilter.c_str(), 0) == 0 &&
           mosquitto_loop_start(m_pMosq) == 0;
  }
  ~Counter() {
    if (m_pMosq == nullptr) return;
    mosquitto_disconnect(m_pMosq);
    // Not forced: a cancelled loop thread would leave a lock held.
    mosquitto_loop_stop(m_pMosq, false);
    mosquitto_destroy(m_pMosq);
  }
};

// (1b) A bare publish on one client, received by another.
double BareRoundTrip() {
  Counter _Receiver;
  if (!_Receiver.Connect("bare/topic")) return -1;
  mosquitto* pSender = mosquitto_new(nullptr, true, nullptr);
  mosquitto_int_option(pSender, MOSQ_OPT_TCP_NODELAY, 1);
  if (mosquitto_connect(pSender, "127.0.0.1", kPort, 30) != 0) return -1;
  mosquitto_loop_start(pSender);
  // Let the subscription settle.
  mosquitto_publish(pSender, nullptr, "bare/topic", 1, "x", 0, false);
  SpinUntil([&] { return _Receiver.m_iCount >= 1; });
  std::vector<double> vecTimes;
  for (int i = 0; i < kRounds; ++i) {
    int iBefore = _Receiver.m_iCount;
    std::string sPayload = "{\"id\":1,\"round\":" + std::to_string(i) + "}";
    Clock::time_point tStart = Clock::now();
    mosquitto_publish(pSender, nullptr, "bare/topic",
                      static_cast<int>(sPayload.size()), sPayload.data(), 0,
                      false);
    if (!SpinUntil([&] { return _Receiver.m_iCount > iBefore; })) return -1;
    vecTimes.push_back(Since(tStart));
  }
  mosquitto_disconnect(pSender);
  mosquitto_loop_stop(pSender, false);
  mosquitto_destroy(pSender);
  return Median(vecTimes);
}

std::unique_ptr<MqttBridge> NewBridge() {
  MqttBridge::Settings _Settings;
  _Settings.m_Url.m_sHost = "127.0.0.1";
  _Settings.m_Url.m_iPort = kPort;
  auto pBridge = std::make_unique<MqttBridge>(
      _Settings, kSerial,
      [](const std::string& sLine) { return ReadCommandLine(sLine, nullptr); },
      [](const CommandLine&) { return CommandOutcome(); },
      [](const std::string& sLine) { fprintf(stderr, "%s\n", sLine.c_str()); });
  std::string sError;
  if (!pBridge->Start(&sError)) return nullptr;
  return pBridge;
}

}  // namespace

int main() {
  MosquittoProcess _Broker;
  MosquittoProcess::Settings _Settings;
  _Settings.iPort = kPort;
  std::string sError;
  if (!_Broker.Start(_Settings, &sError)) {
    fprintf(stderr, "mqtt_bench: %s\n", sError.c_str());
    return 1;
  }
  double fBare = BareRoundTrip();

  // The model: a 10,000-device home merged as the poll thread merges it,
  // its heap measured before the bridge exists.
  const std::string sReply = SyntheticReplies::FullReply(kDevices);
  WiredFrontEnd _Wired;
  _Wired.NewUnit()->m_iSerialNumber = kSerial;
  Veru::PollLoop& _PollLoop = *_Wired.PollLoop();
  double fMerge = 1e9;
  size_t iModelHeap = 0;
  for (int i = 0; i < 5; ++i) {
    size_t iBefore = mallinfo2().uordblks;
    Clock::time_point tStart = Clock::now();
    {
      QuietStdout _Quiet;
      _PollLoop.ParseStatus(json_tokener_parse(sReply.c_str()));
    }
    fMerge = std::min(fMerge, Since(tStart));
    if (i == 0) iModelHeap = mallinfo2().uordblks - iBefore;
  }

  // What the bridge's thread must do at least: one JSON object per device,
  // written directly (as the bridge does) and through json-c's tree.
  Clock::time_point tPayloads = Clock::now();
  size_t iPayloadBytes = 0;
  for (const auto& device : _PollLoop.m_mapDevice) {
    iPayloadBytes += DeviceJsonText(*device.second).size();
  }
  double fPayloads = Since(tPayloads);
  Clock::time_point tTree = Clock::now();
  for (const auto& device : _PollLoop.m_mapDevice) {
    iPayloadBytes -= JsonText(NewDeviceObject(*device.second)).size();
  }
  double fTree = Since(tTree);
  if (iPayloadBytes != 0) fprintf(stderr, "mqtt_bench: the two texts differ\n");
  iPayloadBytes = 0;
  for (const auto& device : _PollLoop.m_mapDevice) {
    iPayloadBytes += DeviceJsonText(*device.second).size();
  }

  ReportFanOut _FanOut(nullptr, nullptr);
  size_t iHeapBefore = mallinfo2().uordblks;
  std::unique_ptr<MqttBridge> pOwned = NewBridge();
  if (!pOwned) return 1;
  const MqttCounts& _Counts = pOwned->Counts();
  _FanOut.AddListener(std::move(pOwned));
  Counter _Devices;
  if (!_Devices.Connect("veru/35000001/device/+")) return 1;
  // The connection made and its first messages (the bridge's state) out.
  WaitUntil([&] {
    return _Counts.m_iWritten >= 1 && _Counts.m_iWritten == _Counts.m_iHanded;
  });

  // (2) The full reply reported: (a) every device message written to the
  // broker's socket, (b) every one received by the subscriber.
  long iWrittenBefore = _Counts.m_iWritten;
  Clock::time_point tStart = Clock::now();
  _FanOut.Full(_PollLoop, false);
  double fReportCall = Since(tStart);
  bool bWritten = NapUntil(
      [&] { return _Counts.m_iWritten >= iWrittenBefore + kDevices; });
  double fWritten = Since(tStart);
  bool bAll = bWritten &&
              NapUntil([&] { return _Devices.m_iCount >= kDevices; });
  double fPublished = Since(tStart);
  malloc_trim(0);
  size_t iBridgeHeap = mallinfo2().uordblks - iHeapBefore;

  // (1) One device changed, as a merge reports it.
  Veru::Device _Device = *_PollLoop.m_mapDevice.begin()->second;
  std::vector<double> vecTimes;
  for (int i = 0; i < kRounds && bAll; ++i) {
    _Device.m_mapVariables["status"] = std::to_string(1000 + i);
    int iBefore = _Devices.m_iCount;
    Clock::time_point tChange = Clock::now();
    _FanOut.Device(_Device, false);
    if (!SpinUntil([&] { return _Devices.m_iCount > iBefore; })) break;
    vecTimes.push_back(Since(tChange));
  }
  double fChange = vecTimes.empty() ? -1 : Median(vecTimes);
  _FanOut.Stop();

  printf("(1) device change through the bridge, median of %d: %.1f us; bare "
         "publish-to-receive round trip: %.1f us; ratio %.2f (goal <= 2)\n",
         kRounds, fChange * 1e6, fBare * 1e6, fChange / fBare);
  printf("(2) 10,000-device full reply: merge %.1f ms; (a) all %d device "
         "messages written to the broker's socket %.1f ms after the report, "
         "ratio %.2f (goal <= 1.5); (b) all received by a subscriber %.1f ms "
         "after it, ratio %.2f (the report call itself %.2f ms on the poll "
         "thread)%s\n",
         fMerge * 1e3, kDevices, fWritten * 1e3, fWritten / fMerge,
         fPublished * 1e3, fPublished / fMerge, fReportCall * 1e3,
         bAll ? "" : " -- NOT ALL RECEIVED");
  printf("    the 10,000 JSON objects alone (%.1f MB): %.1f ms written "
         "directly, %.1f ms through json-c's tree\n",
         iPayloadBytes / 1048576.0, fPayloads * 1e3, fTree * 1e3);
  printf("(3) memory for 10,000 devices: the model %.1f MB on the heap; the "
         "bridge %.1f MB; ratio %.2f (goal <= 1)\n",
         iModelHeap / 1048576.0, iBridgeHeap / 1048576.0,
         static_cast<double>(iBridgeHeap) / iModelHeap);
  return bAll ? 0 : 1;
}
