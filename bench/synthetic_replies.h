// Synthetic status replies for the benchmarks: a full reply of N devices
// (20 variables each, N/10 rooms and scenes, two sections, ten categories)
// and a partial reply changing 100 devices spread over a 10,000-device home.
// Header-only; pure functions.
#ifndef VERU_BENCH_SYNTHETIC_REPLIES_H
#define VERU_BENCH_SYNTHETIC_REPLIES_H

#include <string>

namespace SyntheticReplies {

inline const char* const kVariableNames[20] = {
    "status",        "level",         "watts",       "kwh",
    "armed",         "tripped",       "batterylevel", "configured",
    "commFailure",   "LastUpdate",    "ip",          "mac",
    "manufacturer",  "model",         "subcategory", "temperature",
    "humidity",      "light",         "target",      "ModeStatus"};

inline std::string DeviceText(int iID, int iRoom, int iVersion) {
  std::string s = "{\"id\":" + std::to_string(iID) + ",\"name\":\"Device " +
                  std::to_string(iID) + "\",\"room\":" + std::to_string(iRoom) +
                  ",\"category\":" + std::to_string(iID % 10 + 1) +
                  ",\"comment\":\"\",\"state\":" + std::to_string(iVersion % 2);
  for (int i = 0; i < 20; ++i) {
    s += ",\"";
    s += kVariableNames[i];
    s += "\":\"" + std::to_string((iID * 31 + i * 7 + iVersion) % 1000) + "\"";
  }
  return s + "}";
}

// A full reply of iDevices devices, with iDevices / 10 rooms and scenes.
inline std::string FullReply(int iDevices) {
  int iRooms = iDevices / 10 > 0 ? iDevices / 10 : 1;
  std::string s =
      "{\"full\":1,\"version\":\"*1.7.0*\",\"model\":\"Unit\","
      "\"zwave_heal\":0,\"temperature\":\"C\",\"serial_number\":\"35000001\","
      "\"fwd1\":\"fwd1.local\",\"fwd2\":\"fwd2.local\",\"sections\":[{\"id\":1,"
      "\"name\":\"Home\"},{\"id\":2,\"name\":\"Garden\"}],\"rooms\":[";
  for (int i = 1; i <= iRooms; ++i) {
    if (i > 1) s += ",";
    s += "{\"id\":" + std::to_string(i) + ",\"name\":\"Room " +
         std::to_string(i) + "\",\"section\":" + std::to_string(i % 2 + 1) + "}";
  }
  s += "],\"categories\":[";
  for (int i = 1; i <= 10; ++i) {
    if (i > 1) s += ",";
    s += "{\"id\":" + std::to_string(i) + ",\"name\":\"Kind " +
         std::to_string(i) + "\"}";
  }
  s += "],\"scenes\":[";
  for (int i = 1; i <= iRooms; ++i) {
    if (i > 1) s += ",";
    s += "{\"id\":" + std::to_string(i) + ",\"name\":\"Scene " +
         std::to_string(i) + "\",\"active\":" + std::to_string(i % 2) +
         ",\"room\":" + std::to_string(i) + ",\"comment\":\"\",\"state\":-1}";
  }
  s += "],\"devices\":[";
  for (int i = 1; i <= iDevices; ++i) {
    if (i > 1) s += ",";
    s += DeviceText(i, (i - 1) % iRooms + 1, 0);
  }
  return s + "],\"loadtime\":1700000000,\"dataversion\":100,\"state\":0,"
             "\"comment\":\"\"}";
}

// A partial reply changing 100 devices spread over a 10,000-device model.
inline std::string PartialReply(int iVersion) {
  std::string s = "{\"full\":0,\"loadtime\":1700000000,\"dataversion\":" +
                  std::to_string(100 + iVersion) + ",\"devices\":[";
  for (int i = 0; i < 100; ++i) {
    if (i > 0) s += ",";
    s += DeviceText(1 + i * 100, i + 1, iVersion);
  }
  return s + "]}";
}

}  // namespace SyntheticReplies

#endif  // VERU_BENCH_SYNTHETIC_REPLIES_H
