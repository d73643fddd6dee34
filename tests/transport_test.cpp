#include <gtest/gtest.h>
#include <json-c/json.h>

#include "console/front_end.h"
#include "engine/poll_loop.h"
#include "engine/transport.h"
#include "sim/sim_server.h"
#include "tests/fake_clock.h"
#include "tests/test_util.h"

namespace {

TEST(TransportSmoke, LocalRequestReachesServer) {
  ScratchDir _Dir;
  Sim::SimServer _Server;
  ASSERT_TRUE(_Server.Start("127.0.0.2", 3480));
  _Server.SetDefault({200, "{\"a\": 1}", 0, false});
  FrontEnd _FrontEnd;
  Veru::Engine _Engine;
  _Engine.m_sIp = "127.0.0.2";
  _FrontEnd.m_pEngine = &_Engine;
  Veru::PollLoop _PollLoop(&_FrontEnd.m_Mutex, &_FrontEnd);
  pthread_mutex_init(&_FrontEnd.m_Mutex, nullptr);
  Veru::DataBlock _DataBlock(true);
  json_object* p_json_object = nullptr;
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, _PollLoop.Request("data_request?id=x", &_DataBlock, &p_json_object, 0));
  std::string sOut = testing::internal::GetCapturedStdout();
  EXPECT_EQ("GET:http://127.0.0.2:3480/data_request?id=x got: 8 bytes\n", sOut);
  ASSERT_NE(nullptr, p_json_object);
  json_object_put(p_json_object);
  ASSERT_EQ(1u, _Server.Log().size());
  EXPECT_EQ("/data_request?id=x", _Server.Log()[0].sTarget);
}

}  // namespace
