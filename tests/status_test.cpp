// Status merging and printing: reply text in, printed lines, model state and
// setting files out, through the real merge and the real printing hooks.
#include <dirent.h>
#include <gtest/gtest.h>
#include <json-c/json.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "console/front_end.h"
#include "engine/poll_loop.h"
#include "sim/sim_server.h"
#include "tests/fake_clock.h"
#include "tests/test_util.h"
#include "tests/wired_front_end.h"

namespace {

using namespace std::string_literals;

// A wired front end with a current unit, as Run sets them up, in a scratch
// working directory for the setting files.
class StatusModel {
 public:

  // Parses sReply as the transport does (a text that is not JSON, or the
  // literal null, gives a null reply), merges it and returns what was printed.
  std::string Merge(const std::string& sReply) {
    json_object* p_json_object = json_tokener_parse(sReply.c_str());
    CapturedOutput _Capture;
    m_PollLoop.ParseStatus(p_json_object);
    return _Capture.Text();
  }

  // True when the merge left the model mutex free.
  bool MutexFree() {
    if (pthread_mutex_trylock(&m_FrontEnd.m_Mutex) != 0) return false;
    pthread_mutex_unlock(&m_FrontEnd.m_Mutex);
    return true;
  }

  ScratchDir m_Dir;
  WiredFrontEnd m_Wired;
  FrontEnd& m_FrontEnd = m_Wired.m_FrontEnd;
  Veru::Engine& m_Engine = *m_Wired.NewUnit();
  Veru::PollLoop& m_PollLoop = *m_Wired.PollLoop();
};

std::string DumpModel(const Veru::PollLoop& _PollLoop, const Veru::Engine& _Engine) {
  const Veru::PollLoop& p = _PollLoop;
  std::string s = "engine state " + std::to_string(p.m_iState) + " comment " +
                  p.m_sComment + " loadtime " + std::to_string(p.m_iLoadTime) +
                  " dataversion " + std::to_string(p.m_iDataVersion) +
                  " version " + p.m_sVersion + " model " + p.m_sModel +
                  " heal " + (p.m_bZWaveHeal ? "1" : "0") + "\n";
  s += "unit serial " + std::to_string(_Engine.m_iSerialNumber) + " fwd1 " +
       _Engine.m_sFwdMain + " fwd2 " + _Engine.m_sFwdBack + "\n";
  for (const auto& entry : p.m_mapSection) {
    EXPECT_EQ(entry.first, entry.second->m_iID);
    s += "section " + std::to_string(entry.first) + " " + entry.second->m_sName + "\n";
  }
  for (const auto& entry : p.m_mapRoom) {
    EXPECT_EQ(entry.first, entry.second->m_iID);
    s += "room " + std::to_string(entry.first) + " " + entry.second->m_sName +
         " section " + std::to_string(entry.second->m_iSection) + "\n";
  }
  for (const auto& entry : p.m_mapCategory) {
    EXPECT_EQ(entry.first, entry.second->m_iID);
    s += "category " + std::to_string(entry.first) + " " + entry.second->m_sName + "\n";
  }
  for (const auto& entry : p.m_mapScene) {
    const Veru::Scene* pScene = entry.second;
    EXPECT_EQ(entry.first, pScene->m_iID);
    s += "scene " + std::to_string(entry.first) + " " + pScene->m_sName +
         " room " + std::to_string(pScene->m_iRoom) + " active " +
         (pScene->m_bActive ? "1" : "0") + " state " +
         std::to_string(pScene->m_iState) + " comment " + pScene->m_sComment + "\n";
  }
  for (const auto& entry : p.m_mapDevice) {
    const Veru::Device* pDevice = entry.second;
    EXPECT_EQ(entry.first, pDevice->m_iID);
    s += "device " + std::to_string(entry.first) + " " + pDevice->m_sName +
         " room " + std::to_string(pDevice->m_iRoom) + " category " +
         std::to_string(pDevice->m_iCategory) + " state " +
         std::to_string(pDevice->m_iState) + " comment " + pDevice->m_sComment + "\n";
    for (const auto& variable : pDevice->m_mapVariables) {
      s += "  " + variable.first + "=" + variable.second + "\n";
    }
  }
  return s;
}

std::vector<std::string> SettingFiles() {
  std::vector<std::string> vecNames;
  DIR* pDir = opendir(".");
  if (pDir == nullptr) return vecNames;
  while (dirent* pEntry = readdir(pDir)) {
    std::string sName = pEntry->d_name;
    if (sName.compare(0, 4, "arg_") == 0) vecNames.push_back(sName);
  }
  closedir(pDir);
  std::sort(vecNames.begin(), vecNames.end());
  return vecNames;
}

// "name=content" of every setting file in the working directory, by name.
std::string DumpSettingFiles() {
  std::string s;
  for (const std::string& sName : SettingFiles()) {
    s += sName + "=" + ReadFile(sName) + "\n";
  }
  return s;
}

void RemoveSettingFiles() {
  for (const std::string& sName : SettingFiles()) remove(sName.c_str());
}

// A small home: one of each record, merged as a full reply.
const char* const kHome =
    "{\"full\":1,\"loadtime\":100,\"dataversion\":5,\"state\":0,"
    "\"comment\":\"ok\",\"version\":\"1.7\",\"model\":\"Unit\","
    "\"sections\":[{\"id\":1,\"name\":\"Home\"}],"
    "\"rooms\":[{\"id\":2,\"name\":\"Hall\",\"section\":1}],"
    "\"categories\":[{\"id\":3,\"name\":\"Switch\"}],"
    "\"scenes\":[{\"id\":8,\"name\":\"Night\",\"active\":0,\"room\":2,"
    "\"comment\":\"\",\"state\":-1}],"
    "\"devices\":[{\"id\":7,\"name\":\"Lamp\",\"room\":2,\"category\":3,"
    "\"comment\":\"\",\"state\":0,\"status\":\"0\",\"level\":\"10\"}]}";

// kHome as the model holds it, after the engine and unit lines.
const char* const kHomeRecords =
    "section 1 Home\n"
    "room 2 Hall section 1\n"
    "category 3 Switch\n"
    "scene 8 Night room 2 active 0 state -1 comment \n"
    "device 7 Lamp room 2 category 3 state 0 comment \n"
    "  level=10\n"
    "  status=0\n";

const char* const kHomeEngine =
    "engine state 0 comment ok loadtime 100 dataversion 5 version 1.7 model Unit heal 0\n"
    "unit serial 0 fwd1  fwd2 \n";

struct MergeCase {
  const char* sName;
  std::vector<std::string> vecBefore;  // merged first; output not checked
  std::string sReply;
  std::string sPrinted;
  std::string sModel;
  std::string sFiles;  // setting files written by sReply
};

void RunMergeCases(const std::vector<MergeCase>& vecCases) {
  for (const MergeCase& _Case : vecCases) {
    SCOPED_TRACE(_Case.sName);
    StatusModel _Model;
    for (const std::string& sBefore : _Case.vecBefore) _Model.Merge(sBefore);
    RemoveSettingFiles();
    EXPECT_EQ(_Case.sPrinted, _Model.Merge(_Case.sReply));
    EXPECT_EQ(_Case.sModel, DumpModel(_Model.m_PollLoop, _Model.m_Engine));
    EXPECT_EQ(_Case.sFiles, DumpSettingFiles());
    EXPECT_TRUE(_Model.MutexFree());
  }
}

TEST(StatusMerge, FullAndPartialReplies) {
  const std::string sHomeModel = std::string(kHomeEngine) + kHomeRecords;
  RunMergeCases({
      {"full 1: replaces the model, devices then scenes by ascending id",
       {kHome},
       "{\"full\":1,\"loadtime\":200,\"dataversion\":9,\"state\":1,"
       "\"comment\":\"busy\","
       "\"scenes\":[{\"id\":20,\"name\":\"B\"},{\"id\":4,\"name\":\"A\",\"active\":true}],"
       "\"devices\":[{\"id\":30,\"name\":\"Z\",\"zeta\":\"1\",\"Alpha\":\"2\",\"beta\":\"3\"},"
       "{\"id\":6,\"name\":\"Y\"}]}",
       "======================FULLDATA:\n"
       "--ENGINE state 1 comment busy loadtime 200 dataversion 9\n"
       "---DEVICE 6 Y room 0 category 0 state -1 comment \n"
       "---DEVICE 30 Z room 0 category 0 state -1 comment \n"
       "   Alpha=2\n"
       "   beta=3\n"
       "   zeta=1\n"
       "-----SCENE 4 A room 0 active 1 state -1 comment \n"
       "-----SCENE 20 B room 0 active 0 state -1 comment \n",
       "engine state 1 comment busy loadtime 200 dataversion 9 version 1.7 model Unit heal 0\n"
       "unit serial 0 fwd1  fwd2 \n"
       "scene 4 A room 0 active 1 state -1 comment \n"
       "scene 20 B room 0 active 0 state -1 comment \n"
       "device 6 Y room 0 category 0 state -1 comment \n"
       "device 30 Z room 0 category 0 state -1 comment \n"
       "  Alpha=2\n"
       "  beta=3\n"
       "  zeta=1\n",
       ""},
      {"full true, given last: still read first",
       {kHome},
       "{\"devices\":[{\"id\":9,\"name\":\"N\"}],\"full\":true}",
       "======================FULLDATA:\n"
       "--ENGINE state 0 comment ok loadtime 100 dataversion 5\n"
       "---DEVICE 9 N room 0 category 0 state -1 comment \n",
       std::string(kHomeEngine) + "device 9 N room 0 category 0 state -1 comment \n",
       ""},
      {"full \"1\" without devices: engine lines and the heal line only",
       {kHome},
       "{\"full\":\"1\",\"zwave_heal\":1}",
       "======================FULLDATA:\n"
       "--ENGINE state 0 comment ok loadtime 100 dataversion 5\n"
       "--------NEED TO HEAL----------\n",
       "engine state 0 comment ok loadtime 100 dataversion 5 version 1.7 model Unit heal 1\n"
       "unit serial 0 fwd1  fwd2 \n",
       ""},
      {"full 0 is partial; id and state only keep the rest",
       {kHome},
       "{\"full\":0,\"devices\":[{\"id\":7,\"state\":1}]}",
       "---DEVICE 7 Lamp room 2 category 3 state 1 comment \n"
       "   level=10\n"
       "   status=0\n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall section 1\n"
           "category 3 Switch\n"
           "scene 8 Night room 2 active 0 state -1 comment \n"
           "device 7 Lamp room 2 category 3 state 1 comment \n"
           "  level=10\n"
           "  status=0\n",
       ""},
      {"full null and false are partial",
       {kHome},
       "{\"full\":null,\"loadtime\":101,\"scenes\":[{\"id\":8,\"full\":true}]}",
       "-----SCENE 8 Night room 2 active 0 state -1 comment \n"
       "==========PARTIAL: dataversion 5 loadtime 101\n",
       "engine state 0 comment ok loadtime 101 dataversion 5 version 1.7 model Unit heal 0\n"
       "unit serial 0 fwd1  fwd2 \n" +
           std::string(kHomeRecords),
       ""},
      {"partial: scenes first, devices in reply order, new device made",
       {kHome},
       "{\"scenes\":[{\"id\":8,\"active\":1}],\"devices\":[{\"id\":12,\"name\":\"New\"},"
       "{\"id\":7,\"comment\":\"hi\"}],\"dataversion\":6}",
       "-----SCENE 8 Night room 2 active 1 state -1 comment \n"
       "---DEVICE 12 New room 0 category 0 state -1 comment \n"
       "---DEVICE 7 Lamp room 2 category 3 state 0 comment hi\n"
       "   level=10\n"
       "   status=0\n"
       "==========PARTIAL: dataversion 6 loadtime 100\n",
       "engine state 0 comment ok loadtime 100 dataversion 6 version 1.7 model Unit heal 0\n"
       "unit serial 0 fwd1  fwd2 \n"
       "section 1 Home\n"
       "room 2 Hall section 1\n"
       "category 3 Switch\n"
       "scene 8 Night room 2 active 1 state -1 comment \n"
       "device 7 Lamp room 2 category 3 state 0 comment hi\n"
       "  level=10\n"
       "  status=0\n"
       "device 12 New room 0 category 0 state -1 comment \n",
       ""},
      {"partial: devices first, then scenes",
       {kHome},
       "{\"devices\":[{\"id\":7}],\"scenes\":[{\"id\":8}]}",
       "---DEVICE 7 Lamp room 2 category 3 state 0 comment \n"
       "   level=10\n"
       "   status=0\n"
       "-----SCENE 8 Night room 2 active 0 state -1 comment \n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       sHomeModel, ""},
      {"state changed: ENGINE line and heal line instead of PARTIAL",
       {kHome},
       "{\"state\":2,\"comment\":\"Heal\",\"zwave_heal\":true,"
       "\"devices\":[{\"id\":7,\"state\":1}]}",
       "---DEVICE 7 Lamp room 2 category 3 state 1 comment \n"
       "   level=10\n"
       "   status=0\n"
       "--ENGINE state 2 comment Heal loadtime 100 dataversion 5\n"
       "--------NEED TO HEAL----------\n",
       "engine state 2 comment Heal loadtime 100 dataversion 5 version 1.7 model Unit heal 1\n"
       "unit serial 0 fwd1  fwd2 \n"
       "section 1 Home\n"
       "room 2 Hall section 1\n"
       "category 3 Switch\n"
       "scene 8 Night room 2 active 0 state -1 comment \n"
       "device 7 Lamp room 2 category 3 state 1 comment \n"
       "  level=10\n"
       "  status=0\n",
       ""},
      {"state unchanged with heal flagged: PARTIAL only",
       {kHome},
       "{\"state\":0,\"zwave_heal\":\"2\"}",
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       "engine state 0 comment ok loadtime 100 dataversion 5 version 1.7 model Unit heal 1\n"
       "unit serial 0 fwd1  fwd2 \n" +
           std::string(kHomeRecords),
       ""},
      {"first state after no contact (-2) prints the ENGINE line",
       {},
       "{\"state\":0,\"comment\":\"\",\"loadtime\":1,\"dataversion\":2}",
       "--ENGINE state 0 comment  loadtime 1 dataversion 2\n",
       "engine state 0 comment  loadtime 1 dataversion 2 version  model  heal 0\n"
       "unit serial 0 fwd1  fwd2 \n",
       ""},
      {"only loadtime and dataversion",
       {kHome},
       "{\"loadtime\":300,\"dataversion\":77}",
       "==========PARTIAL: dataversion 77 loadtime 300\n",
       "engine state 0 comment ok loadtime 300 dataversion 77 version 1.7 model Unit heal 0\n"
       "unit serial 0 fwd1  fwd2 \n" +
           std::string(kHomeRecords),
       ""},
      {"a repeated key counts once: json-c keeps the last value at the first place",
       {kHome},
       "{\"devices\":[{\"id\":7,\"state\":1}],\"scenes\":[{\"id\":8}],"
       "\"devices\":[{\"id\":7,\"state\":2}]}",
       "---DEVICE 7 Lamp room 2 category 3 state 2 comment \n"
       "   level=10\n"
       "   status=0\n"
       "-----SCENE 8 Night room 2 active 0 state -1 comment \n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall section 1\n"
           "category 3 Switch\n"
           "scene 8 Night room 2 active 0 state -1 comment \n"
           "device 7 Lamp room 2 category 3 state 2 comment \n"
           "  level=10\n"
           "  status=0\n",
       ""},
      {"fwd1 and fwd2 reach the unit but are not saved",
       {kHome},
       "{\"fwd1\":\"fa.local\",\"fwd2\":\"fb.local\",\"unknown\":[1]}",
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       "engine state 0 comment ok loadtime 100 dataversion 5 version 1.7 model Unit heal 0\n"
       "unit serial 0 fwd1 fa.local fwd2 fb.local\n" +
           std::string(kHomeRecords),
       ""},
  });
}

TEST(StatusMerge, JsonConversions) {
  RunMergeCases({
      {"ids: digit strings used, 0 / missing / null / letters skipped",
       {},
       "{\"devices\":[{\"id\":\"15\",\"name\":\"S\"},{\"id\":\"abc\",\"name\":\"X\"},"
       "{\"id\":0,\"name\":\"Z\"},{\"name\":\"NoId\"},{\"id\":null,\"name\":\"N\"},"
       "{\"id\":\"12abc\",\"name\":\"Q\"},{\"id\":2.9,\"name\":\"F\"},"
       "{\"id\":\" 4\",\"name\":\"W\"}],"
       "\"scenes\":[{\"id\":\"0\",\"name\":\"S0\"},{\"name\":\"S1\"},{\"id\":\"3\",\"name\":\"S3\"}],"
       "\"rooms\":[{\"id\":0,\"name\":\"R0\"},{\"id\":\"5\",\"name\":\"R5\",\"section\":\"6\"}],"
       "\"sections\":[{\"name\":\"X\"},{\"id\":\"6\",\"name\":\"Sec\"}],"
       "\"categories\":[{\"id\":false,\"name\":\"X\"},{\"id\":true,\"name\":\"One\"}]}",
       "---DEVICE 15 S room 0 category 0 state -1 comment \n"
       "---DEVICE 12 Q room 0 category 0 state -1 comment \n"
       "---DEVICE 2 F room 0 category 0 state -1 comment \n"
       "---DEVICE 4 W room 0 category 0 state -1 comment \n"
       "-----SCENE 3 S3 room 0 active 0 state -1 comment \n"
       "==========PARTIAL: dataversion 0 loadtime 0\n",
       "engine state -2 comment  loadtime 0 dataversion 0 version  model  heal 0\n"
       "unit serial 0 fwd1  fwd2 \n"
       "section 6 Sec\n"
       "room 5 R5 section 6\n"
       "category 1 One\n"
       "scene 3 S3 room 0 active 0 state -1 comment \n"
       "device 2 F room 0 category 0 state -1 comment \n"
       "device 4 W room 0 category 0 state -1 comment \n"
       "device 12 Q room 0 category 0 state -1 comment \n"
       "device 15 S room 0 category 0 state -1 comment \n",
       ""},
      {"scene active forms",
       {},
       "{\"scenes\":[{\"id\":1,\"active\":true},{\"id\":2,\"active\":3},"
       "{\"id\":3,\"active\":\"5\"},{\"id\":4,\"active\":\"yes\"},"
       "{\"id\":5,\"active\":false},{\"id\":6,\"active\":\"0\"},"
       "{\"id\":7,\"active\":0.5},{\"id\":8,\"active\":\"7 on\"}]}",
       "-----SCENE 1  room 0 active 1 state -1 comment \n"
       "-----SCENE 2  room 0 active 1 state -1 comment \n"
       "-----SCENE 3  room 0 active 1 state -1 comment \n"
       "-----SCENE 4  room 0 active 0 state -1 comment \n"
       "-----SCENE 5  room 0 active 0 state -1 comment \n"
       "-----SCENE 6  room 0 active 0 state -1 comment \n"
       "-----SCENE 7  room 0 active 0 state -1 comment \n"
       "-----SCENE 8  room 0 active 1 state -1 comment \n"
       "==========PARTIAL: dataversion 0 loadtime 0\n",
       "engine state -2 comment  loadtime 0 dataversion 0 version  model  heal 0\n"
       "unit serial 0 fwd1  fwd2 \n"
       "scene 1  room 0 active 1 state -1 comment \n"
       "scene 2  room 0 active 1 state -1 comment \n"
       "scene 3  room 0 active 1 state -1 comment \n"
       "scene 4  room 0 active 0 state -1 comment \n"
       "scene 5  room 0 active 0 state -1 comment \n"
       "scene 6  room 0 active 0 state -1 comment \n"
       "scene 7  room 0 active 0 state -1 comment \n"
       "scene 8  room 0 active 1 state -1 comment \n",
       ""},
      {"device null members: integers become 0, texts and variables kept",
       {kHome},
       "{\"devices\":[{\"id\":7,\"room\":null,\"category\":null,\"state\":null,"
       "\"name\":null,\"comment\":null,\"level\":null,\"newvar\":null}]}",
       "---DEVICE 7 Lamp room 0 category 0 state 0 comment \n"
       "   level=10\n"
       "   status=0\n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall section 1\n"
           "category 3 Switch\n"
           "scene 8 Night room 2 active 0 state -1 comment \n"
           "device 7 Lamp room 0 category 0 state 0 comment \n"
           "  level=10\n"
           "  status=0\n",
       ""},
      {"device integers from strings, booleans and numbers",
       {kHome},
       "{\"devices\":[{\"id\":7,\"room\":\"4\",\"category\":true,\"state\":-1.7}]}",
       "---DEVICE 7 Lamp room 4 category 1 state -1 comment \n"
       "   level=10\n"
       "   status=0\n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall section 1\n"
           "category 3 Switch\n"
           "scene 8 Night room 2 active 0 state -1 comment \n"
           "device 7 Lamp room 4 category 1 state -1 comment \n"
           "  level=10\n"
           "  status=0\n",
       ""},
      {"scene null members count as absent",
       {kHome, "{\"scenes\":[{\"id\":8,\"active\":1,\"state\":3,\"comment\":\"c\"}]}"},
       "{\"scenes\":[{\"id\":8,\"name\":null,\"active\":null,\"room\":null,"
       "\"comment\":null,\"state\":null}]}",
       "-----SCENE 8 Night room 2 active 1 state 3 comment c\n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall section 1\n"
           "category 3 Switch\n"
           "scene 8 Night room 2 active 1 state 3 comment c\n"
           "device 7 Lamp room 2 category 3 state 0 comment \n"
           "  level=10\n"
           "  status=0\n",
       ""},
      {"variables as JSON text, lines in byte order of names",
       {kHome},
       "{\"devices\":[{\"id\":7,\"num\":1,\"flag\":true,\"neg\":-3,\"real\":1.5,"
       "\"obj\":{\"a\":1,\"b\":[1,2]},\"arr\":[],\"str\":\"with \\\"quote\\\"\","
       "\"Upper\":\"U\",\"status\":\"1\"}]}",
       "---DEVICE 7 Lamp room 2 category 3 state 0 comment \n"
       "   Upper=U\n"
       "   arr=[ ]\n"
       "   flag=true\n"
       "   level=10\n"
       "   neg=-3\n"
       "   num=1\n"
       "   obj={ \"a\": 1, \"b\": [ 1, 2 ] }\n"
       "   real=1.5\n"
       "   status=1\n"
       "   str=with \"quote\"\n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall section 1\n"
           "category 3 Switch\n"
           "scene 8 Night room 2 active 0 state -1 comment \n"
           "device 7 Lamp room 2 category 3 state 0 comment \n"
           "  Upper=U\n"
           "  arr=[ ]\n"
           "  flag=true\n"
           "  level=10\n"
           "  neg=-3\n"
           "  num=1\n"
           "  obj={ \"a\": 1, \"b\": [ 1, 2 ] }\n"
           "  real=1.5\n"
           "  status=1\n"
           "  str=with \"quote\"\n",
       ""},
      {"a NUL inside a text: the model keeps every byte, printing escapes it",
       {kHome},
       "{\"devices\":[{\"id\":7,\"name\":\"La\\u0000mp\",\"zero\":\"a\\u0000b\"}]}",
       "---DEVICE 7 La\\x00mp room 2 category 3 state 0 comment \n"
       "   level=10\n"
       "   status=0\n"
       "   zero=a\\x00b\n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall section 1\n"
           "category 3 Switch\n"
           "scene 8 Night room 2 active 0 state -1 comment \n" +
           "device 7 La\0mp room 2 category 3 state 0 comment \n"s +
           "  level=10\n"
           "  status=0\n" +
           "  zero=a\0b\n"s,
       ""},
      {"top-level null: integers and the heal flag become 0, texts kept",
       {kHome, "{\"state\":3,\"zwave_heal\":1,\"fwd1\":\"fa\",\"fwd2\":\"fb\"}"},
       "{\"state\":null,\"loadtime\":null,\"dataversion\":null,\"zwave_heal\":null,"
       "\"comment\":null,\"version\":null,\"model\":null,\"fwd1\":null,\"fwd2\":null,"
       "\"serial_number\":null}",
       "--ENGINE state 0 comment ok loadtime 0 dataversion 0\n",
       "engine state 0 comment ok loadtime 0 dataversion 0 version 1.7 model Unit heal 0\n"
       "unit serial 0 fwd1 fa fwd2 fb\n" +
           std::string(kHomeRecords),
       ""},
  });
}

TEST(StatusMerge, MalformedRepliesKeepTheModel) {
  const std::string sHomeModel = std::string(kHomeEngine) + kHomeRecords;
  const std::string sPartial = "==========PARTIAL: dataversion 5 loadtime 100\n";
  RunMergeCases({
      {"reply is an array", {kHome}, "[{\"id\":7,\"state\":1}]", sPartial, sHomeModel, ""},
      {"reply is a number", {kHome}, "5", sPartial, sHomeModel, ""},
      {"reply is a string", {kHome}, "\"full\"", sPartial, sHomeModel, ""},
      {"reply is true", {kHome}, "true", sPartial, sHomeModel, ""},
      {"reply is null: nothing at all", {kHome}, "null", "", sHomeModel, ""},
      {"reply is not JSON: nothing at all", {kHome}, "{\"devices\":[", "", sHomeModel, ""},
      {"kind members that are not arrays",
       {kHome},
       "{\"devices\":{\"id\":7,\"state\":5},\"scenes\":5,\"rooms\":\"x\","
       "\"sections\":null,\"categories\":true,\"loadtime\":101}",
       "==========PARTIAL: dataversion 5 loadtime 101\n",
       "engine state 0 comment ok loadtime 101 dataversion 5 version 1.7 model Unit heal 0\n"
       "unit serial 0 fwd1  fwd2 \n" +
           std::string(kHomeRecords),
       ""},
      {"elements that are not objects are skipped, the rest kept",
       {kHome},
       "{\"devices\":[5,\"x\",null,[{\"id\":7}],true,{\"id\":7,\"state\":4}],"
       "\"scenes\":[[8],{\"id\":8,\"state\":2},{}],"
       "\"rooms\":[null,{\"id\":2,\"name\":\"Hall2\"}],\"sections\":[\"s\",1],"
       "\"categories\":[3.5,{\"id\":3,\"name\":\"Dimmer\"}]}",
       "---DEVICE 7 Lamp room 2 category 3 state 4 comment \n"
       "   level=10\n"
       "   status=0\n"
       "-----SCENE 8 Night room 2 active 0 state 2 comment \n"
       "==========PARTIAL: dataversion 5 loadtime 100\n",
       std::string(kHomeEngine) +
           "section 1 Home\n"
           "room 2 Hall2 section 1\n"
           "category 3 Dimmer\n"
           "scene 8 Night room 2 active 0 state 2 comment \n"
           "device 7 Lamp room 2 category 3 state 4 comment \n"
           "  level=10\n"
           "  status=0\n",
       ""},
      {"null names and sections of rooms, sections and categories",
       {kHome},
       "{\"rooms\":[{\"id\":2,\"name\":null,\"section\":null}],"
       "\"sections\":[{\"id\":1,\"name\":null}],\"categories\":[{\"id\":3,\"name\":null}]}",
       sPartial, sHomeModel, ""},
  });
}

TEST(StatusMerge, SerialNumberLearntOnceAndSaved) {
  const std::string sFiles =
      "arg_firmware=\n"
      "arg_fwd_active=\n"
      "arg_fwd_back=\n"
      "arg_fwd_main=fa.local\n"
      "arg_ip=10.0.0.9\n"
      "arg_mode=L\n"
      "arg_serialnumber=4242\n"
      "arg_username=\n"
      "arg_usingbackup=0\n"
      "arg_usingremote=0\n";
  for (const char* sSerial : {"4242", "\"4242\"", "4242.9"}) {
    SCOPED_TRACE(sSerial);
    StatusModel _Model;
    _Model.m_Engine.m_sIp = "10.0.0.9";
    _Model.m_Engine.m_sMode = "L";
    std::string sReply = std::string("{\"serial_number\":") + sSerial +
                         ",\"fwd1\":\"fa.local\",\"loadtime\":3}";
    EXPECT_EQ("==========PARTIAL: dataversion 0 loadtime 3\n", _Model.Merge(sReply));
    EXPECT_EQ(4242, _Model.m_Engine.m_iSerialNumber);
    EXPECT_EQ(sFiles, DumpSettingFiles());
    EXPECT_FALSE(FileExists("arg_pass"));

    // Learnt once: a later serial number changes nothing and saves nothing.
    RemoveSettingFiles();
    EXPECT_EQ("==========PARTIAL: dataversion 0 loadtime 3\n",
              _Model.Merge("{\"serial_number\":5555}"));
    EXPECT_EQ(4242, _Model.m_Engine.m_iSerialNumber);
    EXPECT_EQ("", DumpSettingFiles());
    EXPECT_TRUE(_Model.MutexFree());
  }
}

// The console thread reads the model and the unit under the lock while the
// poll thread merges; the thread sanitizer reports any write made without it.
TEST(StatusMerge, MergeWritesUnderTheLock) {
  StatusModel _Model;
  _Model.Merge(kHome);
  std::atomic<bool> bStop(false);
  size_t iSeen = 0;
  ScopedThread _Reader([&] {
    while (!bStop) {
      Veru::Engine _Copy;
      EXPECT_TRUE(_Model.m_PollLoop.CopyEngine(&_Copy));
      Veru::MutexHolder _Lock(&_Model.m_FrontEnd.m_Mutex);
      Veru::Device* pDevice = _Model.m_PollLoop.FindDevice(7);
      if (pDevice != nullptr) iSeen += pDevice->GetVariable("watts").size();
    }
  }, [&] { bStop = true; });
  CapturedOutput _Capture;
  for (int i = 0; i < 50; ++i) {
    std::string sReply = "{\"fwd1\":\"f" + std::to_string(i) +
                         "\",\"serial_number\":" + std::to_string(100 + i) +
                         ",\"devices\":[{\"id\":7,\"state\":" + std::to_string(i) +
                         ",\"watts\":" + std::to_string(i) + "}]" +
                         (i % 10 == 0 ? ",\"full\":1" : "") + "}";
    _Model.m_PollLoop.ParseStatus(json_tokener_parse(sReply.c_str()));
  }
  _Capture.Text();
  bStop = true;
  _Reader.Join();
  EXPECT_EQ(100, _Model.m_Engine.m_iSerialNumber);
  EXPECT_EQ("f49", _Model.m_Engine.m_sFwdMain);
  EXPECT_EQ("49", _Model.m_PollLoop.FindDevice(7)->GetVariable("watts"));
}

TEST(StatusMerge, NoCurrentUnitSkipsTheUnitFields) {
  StatusModel _Model;
  _Model.m_FrontEnd.m_pEngine = nullptr;
  EXPECT_EQ("======================FULLDATA:\n"
            "--ENGINE state 1 comment  loadtime 0 dataversion 0\n"
            "---DEVICE 1 A room 0 category 0 state -1 comment \n",
            _Model.Merge("{\"full\":1,\"serial_number\":9,\"fwd1\":\"fa\","
                         "\"fwd2\":\"fb\",\"state\":1,"
                         "\"devices\":[{\"id\":1,\"name\":\"A\"}]}"));
  EXPECT_EQ(0, _Model.m_Engine.m_iSerialNumber);
  EXPECT_EQ("", _Model.m_Engine.m_sFwdMain);
  EXPECT_EQ("", _Model.m_Engine.m_sFwdBack);
  EXPECT_EQ("", DumpSettingFiles());
}

TEST(StatusMerge, DirectCallsIgnoreWhatIsNotAnArray) {
  StatusModel _Model;
  json_object* p_json_object = json_tokener_parse("{\"id\":4}");
  _Model.m_PollLoop.ParseDevices(p_json_object, true);
  _Model.m_PollLoop.ParseScenes(nullptr, true);
  _Model.m_PollLoop.ParseRooms(p_json_object);
  _Model.m_PollLoop.ParseSections(nullptr);
  _Model.m_PollLoop.ParseCategories(p_json_object);
  json_object_put(p_json_object);
  _Model.m_PollLoop.ParseStatus(nullptr);
  EXPECT_EQ("engine state -2 comment  loadtime 0 dataversion 0 version  model  heal 0\n"
            "unit serial 0 fwd1  fwd2 \n",
            DumpModel(_Model.m_PollLoop, _Model.m_Engine));
}

// --- Through the real wget against the loopback server ----------------------

class StatusRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeClock::Reset();
    m_Model.m_Engine.m_sIp = "127.0.0.21";
    m_Model.m_Engine.m_iSerialNumber = 77;
  }

  std::string Poll() {
    CapturedOutput _Capture;
    json_object* p_json_object = m_Model.m_PollLoop.GetStatus();
    m_Model.m_PollLoop.ParseStatus(p_json_object);
    return _Capture.Text();
  }

  StatusModel m_Model;
  Sim::SimServer m_Server;
};

TEST_F(StatusRequest, FullThenPartialCarryLoadTimeAndDataVersion) {
  ASSERT_TRUE(m_Server.Start("127.0.0.21", 3480));
  const std::string sFull =
      "{\"full\":1,\"loadtime\":1500,\"dataversion\":42,\"state\":0,"
      "\"comment\":\"\",\"devices\":[{\"id\":3,\"name\":\"Lamp\",\"state\":0}]}";
  const std::string sPartial =
      "{\"loadtime\":1500,\"dataversion\":43,"
      "\"devices\":[{\"id\":3,\"state\":1,\"status\":\"1\"}]}";
  m_Server.Queue({200, sFull, 0, false});
  m_Server.Queue({200, sPartial, 0, false});

  EXPECT_EQ("GET:http://127.0.0.21:3480/data_request?id=lu_sdata&loadtime=0"
            "&dataversion=0&minimumdelay=2000&timeout=60 got: " +
                std::to_string(sFull.size()) + " bytes\n"
                "======================FULLDATA:\n"
                "--ENGINE state 0 comment  loadtime 1500 dataversion 42\n"
                "---DEVICE 3 Lamp room 0 category 0 state 0 comment \n",
            Poll());
  EXPECT_EQ("GET:http://127.0.0.21:3480/data_request?id=lu_sdata&loadtime=1500"
            "&dataversion=42&minimumdelay=2000&timeout=60 got: " +
                std::to_string(sPartial.size()) + " bytes\n"
                "---DEVICE 3 Lamp room 0 category 0 state 1 comment \n"
                "   status=1\n"
                "==========PARTIAL: dataversion 43 loadtime 1500\n",
            Poll());
  std::vector<Sim::LoggedRequest> vecLog = m_Server.Log();
  ASSERT_EQ(2u, vecLog.size());
  EXPECT_EQ("/data_request?id=lu_sdata&loadtime=0&dataversion=0"
            "&minimumdelay=2000&timeout=60",
            vecLog[0].sTarget);
  EXPECT_EQ("/data_request?id=lu_sdata&loadtime=1500&dataversion=42"
            "&minimumdelay=2000&timeout=60",
            vecLog[1].sTarget);
  EXPECT_FALSE(m_Model.m_Engine.m_bInvalidUserPass);
}

TEST_F(StatusRequest, RefusedCredentialsMarkTheUnit) {
  ASSERT_TRUE(m_Server.Start("127.0.0.20", 3480));
  m_Model.m_Engine.m_sIp = "127.0.0.20";
  struct {
    const char* sBody;
    bool bInvalid;
  } aCases[] = {
      {"Invalid user/pass", true},
      {"Invalid user/pass for unit 77\n", true},
      {"invalid user/pass", false},
      {"Invalid user/pas", false},
      {" Invalid user/pass", false},
      {"null", false},
      {"", false},
  };
  for (const auto& _Case : aCases) {
    SCOPED_TRACE(_Case.sBody);
    m_Model.m_Engine.m_bInvalidUserPass = false;
    m_Server.Queue({200, _Case.sBody, 0, false});
    CapturedOutput _Capture;
    json_object* p_json_object = m_Model.m_PollLoop.GetStatus();
    _Capture.Text();
    EXPECT_EQ(nullptr, p_json_object);
    json_object_put(p_json_object);
    EXPECT_EQ(_Case.bInvalid, m_Model.m_Engine.m_bInvalidUserPass);
    EXPECT_TRUE(m_Model.MutexFree());
  }
}

TEST_F(StatusRequest, NoCurrentUnitSendsNothing) {
  ASSERT_TRUE(m_Server.Start("127.0.0.22", 3480));
  m_Model.m_FrontEnd.m_pEngine = nullptr;
  CapturedOutput _Capture;
  EXPECT_EQ(nullptr, m_Model.m_PollLoop.GetStatus());
  EXPECT_EQ("", _Capture.Text());
  EXPECT_TRUE(m_Server.Log().empty());
}

}  // namespace
