// One device's numeric variables over a span, read from the history file
// for its sparklines, with the spans when the connection was lost.
//
// Threads: any thread; each call opens the file, reads and closes it.
#ifndef VERU_CONSOLE_HISTORY_HISTORY_SERIES_H
#define VERU_CONSOLE_HISTORY_HISTORY_SERIES_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "console/history/sparkline.h"

struct DeviceSeries {
  // The variables whose every value in the span (and the one before it)
  // is a number, by name: their samples in time order, the first one from
  // before the span when there is one.
  std::map<std::string, std::vector<SparkSample>> mapNumbers;
  // [lost, restored) spans in time order; the last may end at tNow.
  std::vector<std::pair<int64_t, int64_t>> vecGaps;
};

// Reads device iDevice of unit iUnit (0: the unit recorded last) over
// [tSince, tNow). False, with *pReason set, when the file cannot be read.
bool ReadDeviceSeries(const std::string& sPath, int iUnit, int iDevice,
                      int64_t tSince, int64_t tNow, DeviceSeries* pSeries,
                      std::string* pReason);

#endif  // VERU_CONSOLE_HISTORY_HISTORY_SERIES_H
