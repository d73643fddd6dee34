// A device's state cell at a glance, without a terminal: the variables of
// every kind of device the demo home has (and a few odd ones) against the
// text and roles the row shows, the fit into a narrow column, and ages.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "console/screen/screen_glance.h"

namespace {

constexpr int64_t kNow = 1700000000;

Veru::VariableMap Variables(std::vector<std::pair<std::string, std::string>> vecPairs) {
  Veru::VariableMap mapVariables;
  for (const auto& pair : vecPairs) mapVariables[pair.first] = pair.second;
  return mapVariables;
}

// The roles of the parts, one letter each: p plain, n on, f off, a alarm.
std::string Roles(const std::vector<ScreenGlancePart>& vecParts) {
  std::string sRoles;
  for (const ScreenGlancePart& _Part : vecParts) {
    switch (_Part.m_eRole) {
      case ScreenRole::kPlain: sRoles += 'p'; break;
      case ScreenRole::kOn: sRoles += 'n'; break;
      case ScreenRole::kOff: sRoles += 'f'; break;
      case ScreenRole::kAlarm: sRoles += 'a'; break;
      default: sRoles += '?'; break;
    }
  }
  return sRoles;
}

TEST(ScreenGlance, EachKindOfDeviceReadsAtAGlance) {
  struct Case {
    const char* sKind;
    std::vector<std::pair<std::string, std::string>> vecVariables;
    const char* sText;
    const char* sRoles;
  };
  const Case kCases[] = {
      {"switch off", {{"Status", "0"}, {"Target", "0"}}, "off", "f"},
      {"switch on", {{"Status", "1"}, {"Target", "1"}}, "on", "n"},
      {"dimmer", {{"Status", "1"}, {"LoadLevelStatus", "30"}, {"LoadLevelTarget", "30"}},
       "on 30%", "n"},
      {"dimmer without Status", {{"LoadLevelStatus", "0"}}, "off 0%", "f"},
      {"busy Status", {{"Status", "Busy"}}, "Status=Busy", "p"},
      {"sensor quiet, never tripped", {{"Armed", "1"}, {"Tripped", "0"}, {"LastTrip", "0"}},
       "ok, armed", "pp"},
      {"sensor tripped three minutes ago",
       {{"Armed", "1"}, {"Tripped", "1"}, {"LastTrip", "1699999800"}},
       "TRIPPED 3 min ago, armed", "ap"},
      {"sensor quiet, tripped an hour ago",
       {{"Armed", "0"}, {"Tripped", "0"}, {"LastTrip", "1699996400"}},
       "ok, disarmed, last trip 1 h ago", "ppp"},
      {"sensor tripped, no time", {{"Armed", "0"}, {"Tripped", "1"}}, "TRIPPED, disarmed",
       "ap"},
      {"odd flag and moment", {{"Tripped", "2"}, {"LastTrip", "soon"}},
       "Tripped=2, last trip soon", "pp"},
      {"temperature sensor", {{"CurrentTemperature", "21"}}, "temp 21", "p"},
      {"thermostat",
       {{"CurrentSetpoint", "21"}, {"CurrentTemperature", "20.5"}, {"ModeStatus", "HeatOn"}},
       "temp 20.5, set 21, HeatOn", "ppp"},
      {"humidity sensor", {{"CurrentLevel", "55"}}, "55%", "p"},
      {"light sensor", {{"CurrentLevel", "300"}}, "level 300", "p"},
      {"camera",
       {{"ip", "127.0.0.1:8081"}, {"streaming", "/video.mjpg"}, {"username", "admin"},
        {"password", "secret"}},
       "camera, 127.0.0.1:8081", "pp"},
      {"unknown, a secret among", {{"watts", "12"}, {"pin", "1234"}, {"kwh", "3"}},
       "kwh=3, watts=12", "pp"},
      {"nothing", {}, "", ""},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.sKind);
    std::vector<ScreenGlancePart> vecParts =
        ScreenGlanceParts(Variables(_Case.vecVariables), kNow, 200);
    EXPECT_EQ(_Case.sText, ScreenGlanceText(vecParts));
    EXPECT_EQ(_Case.sRoles, Roles(vecParts));
  }
}

// A narrow column keeps the first parts whole and drops the rest, in
// order (a shorter part after one left out is left out too); the first is
// kept however long (the writer cuts it).
TEST(ScreenGlance, NarrowColumnKeepsTheFirstParts) {
  Veru::VariableMap mapSensor =
      Variables({{"Armed", "1"}, {"Tripped", "1"}, {"LastTrip", "1699999800"}});
  Veru::VariableMap mapOther = Variables({{"kwh", "3"}, {"watts", "12"}, {"zone", "a"}});
  struct Case {
    const Veru::VariableMap* pVariables;
    int iWidth;
    const char* sText;
  };
  const Case kCases[] = {
      {&mapSensor, 40, "TRIPPED 3 min ago, armed"},
      {&mapSensor, 24, "TRIPPED 3 min ago, armed"},
      {&mapSensor, 23, "TRIPPED 3 min ago"},
      {&mapSensor, 5, "TRIPPED 3 min ago"},
      {&mapOther, 23, "kwh=3, watts=12, zone=a"},
      {&mapOther, 22, "kwh=3, watts=12"},
      {&mapOther, 14, "kwh=3"},
      {&mapOther, 1, "kwh=3"},
  };
  for (const Case& _Case : kCases) {
    SCOPED_TRACE(_Case.iWidth);
    EXPECT_EQ(_Case.sText,
              ScreenGlanceText(ScreenGlanceParts(*_Case.pVariables, kNow, _Case.iWidth)));
  }
}

TEST(ScreenGlance, AgesReadInTheirLargestUnit) {
  struct Case {
    int64_t tSeconds;
    const char* sText;
  };
  const Case kCases[] = {
      {0, "0 s ago"},         {59, "59 s ago"},     {60, "1 min ago"},
      {3599, "59 min ago"},   {3600, "1 h ago"},    {172799, "47 h ago"},
      {172800, "2 d ago"},    {-30, "in 30 s"},     {-600, "in 10 min"},
  };
  for (const Case& _Case : kCases) {
    EXPECT_EQ(_Case.sText, ScreenAgeText(_Case.tSeconds)) << _Case.tSeconds;
  }
}

}  // namespace
