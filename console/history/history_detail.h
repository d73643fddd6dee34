// What the full-screen view's detail page shows of a device's history: its
// recent changes, and a sparkline of the last 24 hours for each variable
// whose values are numbers, with its least, greatest and last value. Read
// from the history file; lines of plain text for the view to draw.
//
// Threads: any thread; it opens the file for the call only.
#ifndef VERU_CONSOLE_HISTORY_HISTORY_DETAIL_H
#define VERU_CONSOLE_HISTORY_HISTORY_DETAIL_H

#include <cstdint>
#include <string>
#include <vector>

// The span of the sparklines.
constexpr int64_t kSparklineSpan = 24 * 3600;

// Up to iRows lines, each at most iWidth columns wide: "History (last 24
// h)", a line per numeric variable ("Temperature  ▁▂▃▅▇█  19..23 last
// 21"), then "Recent changes" and the newest changes that fit (oldest
// first, "03:12:08  Tripped 0 -> 1"). bUnicode false: the sparklines in
// plain ASCII. A file that cannot be read gives one line saying why.
std::vector<std::string> HistoryDetailLines(const std::string& sPath,
                                            int iUnit, int iDevice,
                                            int64_t tNow, int iWidth,
                                            int iRows, bool bUnicode);

#endif  // VERU_CONSOLE_HISTORY_HISTORY_DETAIL_H
