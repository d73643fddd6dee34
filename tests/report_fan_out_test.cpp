// The report fan-out: the chosen form hears every report at once, and each
// listener hears every report, in the same order, on a thread of its own.
#include "console/report/report_fan_out.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "console/report/text_report.h"
#include "tests/test_util.h"

namespace {

// Writes down what it hears, as one word per report.
class RecordingListener : public ReportListener {
 public:
  void OnReport(const ReportEvent& _Event) override {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_vecHeard.push_back(Word(_Event));
  }
  void OnStop() override {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_vecHeard.push_back("stop");
  }
  std::vector<std::string> Heard() {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    return m_vecHeard;
  }

 private:
  static std::string Word(const ReportEvent& _Event) {
    switch (_Event.m_iKind) {
      case ReportEvent::Kind::kDevice:
        return "device " + std::to_string(_Event.m_pDevice->m_iID) + " " +
               _Event.m_pDevice->GetVariable("Status");
      case ReportEvent::Kind::kPartial:
        return "partial " + std::to_string(_Event.m_iDataVersion);
      case ReportEvent::Kind::kNotice:
        return "notice " + _Event.m_sText;
      default:
        return "other";
    }
  }
  std::mutex m_Mutex;
  std::vector<std::string> m_vecHeard;
};

// Holds its thread in OnReport until Release.
class BlockedListener : public ReportListener {
 public:
  void OnReport(const ReportEvent&) override {
    std::unique_lock<std::mutex> _Lock(m_Mutex);
    m_bEntered = true;
    m_Wake.notify_all();
    m_Wake.wait(_Lock, [this] { return m_bReleased; });
  }
  bool Entered() {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    return m_bEntered;
  }
  void Release() {
    std::lock_guard<std::mutex> _Lock(m_Mutex);
    m_bReleased = true;
    m_Wake.notify_all();
  }

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Wake;
  bool m_bEntered = false;
  bool m_bReleased = false;
};

Veru::Device DeviceWithStatus(int iID, const char* sStatus) {
  Veru::Device _Device(iID);
  _Device.m_sName = "Lamp";
  _Device.m_mapVariables["Status"] = sStatus;
  return _Device;
}

}  // namespace

TEST(ReportFanOutTest, EveryListenerHearsEveryReportInTheSameOrder) {
  CapturedOutput _Output;
  ReportFanOut _FanOut(std::make_unique<TextReport>(stdout), nullptr);
  auto pFirst = new RecordingListener;
  auto pSecond = new RecordingListener;
  _FanOut.AddListener(std::unique_ptr<ReportListener>(pFirst));
  _FanOut.AddListener(std::unique_ptr<ReportListener>(pSecond));

  std::vector<std::string> vecExpected;
  for (int i = 0; i < 200; ++i) {
    Veru::Device _Device = DeviceWithStatus(i % 7 + 1, i % 2 ? "1" : "0");
    _FanOut.Device(_Device, false);
    vecExpected.push_back("device " + std::to_string(i % 7 + 1) + " " +
                          (i % 2 ? "1" : "0"));
    _FanOut.Partial(i, 1000);
    vecExpected.push_back("partial " + std::to_string(i));
  }
  _FanOut.Notice("done");
  vecExpected.push_back("notice done");
  _FanOut.Stop();
  vecExpected.push_back("stop");

  EXPECT_EQ(pFirst->Heard(), vecExpected);
  EXPECT_EQ(pSecond->Heard(), vecExpected);
  // The form heard them too, at once.
  EXPECT_NE(_Output.Text().find("==========PARTIAL: dataversion 199 loadtime 1000"),
            std::string::npos);
}

TEST(ReportFanOutTest, AListenerThatBlocksDelaysNeitherTheReportsNorTheOthers) {
  CapturedOutput _Output;
  ReportFanOut _FanOut(std::make_unique<TextReport>(stdout), nullptr);
  auto pBlocked = new BlockedListener;
  auto pRecording = new RecordingListener;
  _FanOut.AddListener(std::unique_ptr<ReportListener>(pBlocked));
  _FanOut.AddListener(std::unique_ptr<ReportListener>(pRecording));

  Veru::Device _Device = DeviceWithStatus(5, "1");
  _FanOut.Device(_Device, false);
  ASSERT_TRUE(WaitUntil([&] { return pBlocked->Entered(); }));
  // The blocked listener holds its thread: these return all the same, the
  // form prints them and the other listener hears them.
  for (int i = 0; i < 50; ++i) _FanOut.Partial(i, 7);
  EXPECT_NE(_Output.Text().find("==========PARTIAL: dataversion 49 loadtime 7"),
            std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return pRecording->Heard().size() == 51; }));
  pBlocked->Release();
  _FanOut.Stop();
  EXPECT_EQ(pRecording->Heard().back(), "stop");
}

TEST(ReportFanOutTest, WithoutListenersItOnlyPassesReportsOn) {
  CapturedOutput _Output;
  ReportFanOut _FanOut(std::make_unique<TextReport>(stdout), nullptr);
  _FanOut.Partial(3, 4);
  _FanOut.Stop();
  _FanOut.Partial(5, 6);  // after the stop: the form still hears it
  EXPECT_EQ(_Output.Text(),
            "==========PARTIAL: dataversion 3 loadtime 4\n"
            "==========PARTIAL: dataversion 5 loadtime 6\n");
}
