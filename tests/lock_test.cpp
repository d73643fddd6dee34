// The operations the console thread and the poll thread share take the model
// mutex. Each one is run on a second thread while the test holds the mutex:
// it must come to wait for the mutex, and finish once it is let go. This
// finds a missing lock on every build; the concurrent tests beside each
// operation find the same only under ThreadSanitizer.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <pthread.h>

#include <atomic>
#include <functional>
#include <string>

#include "console/front_end.h"
#include "engine/poll_loop.h"
#include "tests/fake_clock.h"
#include "tests/front_end_fixture.h"
#include "tests/test_util.h"

namespace {

// A full reply with one camera (device 3), which the local stream lookup
// can answer without a request.
const char kReply[] =
    "{\"full\":1,\"loadtime\":5,\"dataversion\":6,\"devices\":[{\"id\":3,"
    "\"name\":\"Cam\",\"ip\":\"127.0.0.49\",\"streaming\":\"/live\"}]}";

// True when a thread waits for *pMutex, a normal mutex this thread holds:
// the C library marks the lock word of such a mutex 2 ("locked, with
// waiters") before a locker goes to sleep on it.
bool HasWaiter(pthread_mutex_t* pMutex) {
  return __atomic_load_n(&pMutex->__data.__lock, __ATOMIC_ACQUIRE) == 2;
}

// Runs fOperation on another thread while this thread holds *pMutex. It
// passes when the operation came to wait for the mutex and finished once
// the mutex was let go; it fails when the operation finished while the
// mutex was held (it takes no lock), or neither finished nor waited for the
// mutex within 10 s (nothing could be seen).
testing::AssertionResult WaitsForTheMutex(
    pthread_mutex_t* pMutex, const std::function<void()>& fOperation) {
  std::atomic<bool> bDone{false};
  pthread_mutex_lock(pMutex);
  ScopedThread _Other([&] {
    fOperation();
    bDone = true;
  });
  WaitUntil([&] { return bDone || HasWaiter(pMutex); }, 10000);
  bool bDoneWhileHeld = bDone;
  bool bWaited = HasWaiter(pMutex);
  pthread_mutex_unlock(pMutex);
  _Other.Join();
  if (bDoneWhileHeld) {
    return testing::AssertionFailure()
           << "it finished while the mutex was held";
  }
  if (!bWaited) {
    return testing::AssertionFailure()
           << "it neither finished nor waited for the mutex in 10 s";
  }
  return testing::AssertionSuccess();
}

TEST(ModelMutex, SharedOperationsWaitForIt) {
  struct Case {
    const char* cName;
    std::function<void(TestFrontEnd*)> fOperation;
  };
  const Case cases[] = {
      {"status merge",
       [](TestFrontEnd* pTest) {
         pTest->PollLoop()->ParseStatus(json_tokener_parse(kReply));
       }},
      {"copy of the current unit",
       [](TestFrontEnd* pTest) {
         Veru::Engine _Copy;
         pTest->PollLoop()->CopyEngine(&_Copy);
       }},
      {"camera stream lookup",
       [](TestFrontEnd* pTest) {
         std::string sType;
         EXPECT_EQ("http://127.0.0.49/live",
                   pTest->PollLoop()->GetCameraStreamURL(3, sType));
       }},
      {"unit list rebuild",
       [](TestFrontEnd* pTest) {
         json_object* p_json_object = json_tokener_parse(
             "{\"units\":[{\"serialNumber\":30002,\"name\":\"Cabin\"}]}");
         EXPECT_EQ(0, pTest->PollLoop()->ParseUnits(p_json_object, "bob"));
         json_object_put(p_json_object);
       }},
      {"settings save",
       [](TestFrontEnd* pTest) { pTest->_FrontEnd.SaveSettings(false); }},
      {"show", [](TestFrontEnd* pTest) { pTest->_FrontEnd.HandleCommand("show"); }},
      {"password prompt",
       [](TestFrontEnd* pTest) {
         pTest->SetInput("pw\nn\n");
         pTest->_FrontEnd.AskPassword();
       }},
  };
  for (const Case& _Case : cases) {
    SCOPED_TRACE(_Case.cName);
    FakeClock::Reset(1700000000);
    ScratchDir _Dir;
    TestFrontEnd _Test;
    _Test.SetLocalUnit("127.0.0.49")->m_iSerialNumber = 30001;
    CapturedOutput _Capture;
    _Test.PollLoop()->ParseStatus(json_tokener_parse(kReply));
    EXPECT_TRUE(WaitsForTheMutex(&_Test._FrontEnd.m_Mutex,
                                 [&] { _Case.fOperation(&_Test); }));
    _Capture.Text();
  }
}

}  // namespace
