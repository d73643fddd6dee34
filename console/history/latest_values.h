// The latest table's form of a device's last recorded values: one JSON
// object of variable names and their values as text, for example
// {"Armed":"1","Tripped":"0","state":"0"}. SQLite's json functions read it
// (json_each, json_extract).
//
// Threads: pure functions, any thread.
#ifndef VERU_CONSOLE_HISTORY_LATEST_VALUES_H
#define VERU_CONSOLE_HISTORY_LATEST_VALUES_H

#include <map>
#include <string>

// mapValues as a JSON object, its names in their order.
std::string LatestValuesText(const std::map<std::string, std::string>& mapValues);

// The names and values of sText into *pValues. False when sText is not a
// JSON object whose members are all strings.
bool ReadLatestValues(const std::string& sText,
                      std::map<std::string, std::string>* pValues);

#endif  // VERU_CONSOLE_HISTORY_LATEST_VALUES_H
