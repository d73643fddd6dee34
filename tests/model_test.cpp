// The home model records and their look-ups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/front_end.h"
#include "engine/poll_loop.h"

namespace {

TEST(ModelDeviceTest, NewDeviceHasOnlyItsId) {
  Veru::Device _Device(7);
  EXPECT_EQ(7, _Device.m_iID);
  EXPECT_EQ(0, _Device.m_iRoom);
  EXPECT_EQ(0, _Device.m_iCategory);
  EXPECT_EQ(-1, _Device.m_iState);
  EXPECT_EQ("", _Device.m_sName);
  EXPECT_EQ("", _Device.m_sComment);
  EXPECT_TRUE(_Device.m_mapVariables.empty());
}

TEST(ModelDeviceTest, GetVariableNeverInserts) {
  Veru::Device _Device(3);
  _Device.m_mapVariables["Status"] = "1";
  _Device.m_mapVariables["ip"] = "";
  EXPECT_EQ("1", _Device.GetVariable("Status"));
  EXPECT_EQ("", _Device.GetVariable("ip"));
  // Case-sensitive, and a missing name gives an empty text without an
  // entry appearing.
  EXPECT_EQ("", _Device.GetVariable("status"));
  EXPECT_EQ("", _Device.GetVariable("streaming"));
  EXPECT_EQ("", _Device.GetVariable(""));
  EXPECT_EQ(2u, _Device.m_mapVariables.size());
}

TEST(ModelDeviceTest, VariablesAreOrderedByTheBytesOfTheirNames) {
  Veru::Device _Device(3);
  for (const char* sName : {"watts", "Status", "armed", "ID", "_x", "10",
                            "\xc3\xa9t\xc3\xa9", "Zz"})
    _Device.m_mapVariables[sName] = "v";
  std::vector<std::string> vecNames;
  for (const auto& entry : _Device.m_mapVariables)
    vecNames.push_back(entry.first);
  EXPECT_EQ((std::vector<std::string>{"10", "ID", "Status", "Zz", "_x",
                                      "armed", "watts",
                                      "\xc3\xa9t\xc3\xa9"}),
            vecNames);
}

// "name=value;" of every entry, in the map's order.
std::string Entries(const Veru::VariableMap& mapVariables) {
  std::string s;
  for (const auto& entry : mapVariables) s += entry.first + "=" + entry.second + ";";
  return s;
}

TEST(ModelDeviceTest, BatchMergeKeepsNamesSortedAndDistinct) {
  using Batch = std::vector<std::pair<const char*, const char*>>;
  struct Case {
    const char* sName;
    Batch vecBefore;  // merged first, as one batch
    Batch vecBatch;
    const char* sEntries;
  };
  const std::vector<Case> vecCases = {
      {"new map, names in any order", {},
       {{"watts", "5"}, {"Status", "1"}, {"armed", "0"}, {"10", "x"}},
       "10=x;Status=1;armed=0;watts=5;"},
      {"known names replaced, new ones slotted between them",
       {{"b", "1"}, {"d", "2"}},
       {{"e", "5"}, {"a", "0"}, {"d", "new"}, {"c", "3"}},
       "a=0;b=1;c=3;d=new;e=5;"},
      {"a name given twice: the later value, one entry", {{"x", "0"}},
       {{"x", "1"}, {"y", "2"}, {"x", "3"}, {"z", ""}, {"z", "4"}},
       "x=3;y=2;z=4;"},
      {"empty batch changes nothing", {{"b", "1"}, {"a", "2"}}, {},
       "a=2;b=1;"},
      {"one old entry, a new name sorting before it", {{"m", "1"}},
       {{"a", "2"}}, "a=2;m=1;"},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    Veru::VariableMap mapVariables;
    for (const Batch* pBatch : {&_Case.vecBefore, &_Case.vecBatch}) {
      std::vector<Veru::VariableMap::Update> vecUpdates;
      for (const auto& pair : *pBatch) {
        vecUpdates.push_back({pair.first, pair.second});
      }
      mapVariables.Merge(&vecUpdates);
    }
    EXPECT_EQ(_Case.sEntries, Entries(mapVariables));
    for (const auto& entry : mapVariables) {
      EXPECT_EQ(entry.second, mapVariables.find(entry.first)->second);
    }
  }
}

TEST(ModelPollLoopTest, FindDeviceNeverInserts) {
  FrontEnd _FrontEnd;
  Veru::PollLoop _PollLoop(nullptr, &_FrontEnd);
  Veru::Device* pDevice = new Veru::Device(5);
  _PollLoop.m_mapDevice[5] = pDevice;
  EXPECT_EQ(pDevice, _PollLoop.FindDevice(5));
  EXPECT_EQ(nullptr, _PollLoop.FindDevice(0));
  EXPECT_EQ(nullptr, _PollLoop.FindDevice(6));
  EXPECT_EQ(nullptr, _PollLoop.FindDevice(-5));
  EXPECT_EQ(1u, _PollLoop.m_mapDevice.size());
}

// Every record still in a map goes with the PollLoop (the leak check of the
// sanitizer build reports any that does not).
TEST(ModelPollLoopTest, DestructorReleasesEveryRecord) {
  FrontEnd _FrontEnd;
  Veru::PollLoop* pPollLoop = new Veru::PollLoop(nullptr, &_FrontEnd);
  for (int iID = 1; iID <= 3; ++iID) {
    pPollLoop->m_mapDevice[iID] = new Veru::Device(iID);
    pPollLoop->m_mapDevice[iID]->m_mapVariables["Status"] = "1";
    pPollLoop->m_mapScene[iID] = new Veru::Scene(iID);
    pPollLoop->m_mapSection[iID] = new Veru::Section(iID);
    pPollLoop->m_mapRoom[iID] = new Veru::Room(iID);
    pPollLoop->m_mapCategory[iID] = new Veru::Category(iID);
    pPollLoop->m_mapEngine[iID * 1000] = new Veru::Engine();
  }
  pPollLoop->m_mapEngine[1000]->m_mapUsers["bob"] = true;
  delete pPollLoop;
}

TEST(ModelEngineTest, UpdateAvailabilityRecomputesBothFlags) {
  struct Case {
    const char* sName;
    std::string sIp;
    std::string sUsername;
    std::vector<std::string> vecUsers;
    bool bLocal;
    bool bRemote;
  } vecCases[] = {
      {"nothing known", "", "", {}, false, false},
      {"empty user name, empty-key user entry", "", "", {""}, false, false},
      {"listed user", "192.168.81.20", "bob", {"alice", "bob"}, true, true},
      {"user not listed", "192.168.81.20", "bob", {"alice"}, true, false},
      {"case differs", "", "bob", {"Bob"}, false, false},
      {"trailing blank differs", "", "bob", {"bob "}, false, false},
      {"no users", "10.0.0.2", "bob", {}, true, false},
  };
  for (const Case& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    Veru::Engine _Engine;
    // Old values must not survive.
    _Engine.m_bLocalAvailable = !_Case.bLocal;
    _Engine.m_bRemoteAvailable = !_Case.bRemote;
    _Engine.m_sIp = _Case.sIp;
    _Engine.m_sUsername = _Case.sUsername;
    for (const std::string& sUser : _Case.vecUsers)
      _Engine.m_mapUsers[sUser] = true;
    _Engine.UpdateAvailability();
    EXPECT_EQ(_Case.bLocal, _Engine.m_bLocalAvailable);
    EXPECT_EQ(_Case.bRemote, _Engine.m_bRemoteAvailable);
    EXPECT_EQ(_Case.vecUsers.size(), _Engine.m_mapUsers.size());
  }
}

}  // namespace
