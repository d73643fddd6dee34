// The history read back: "history [DEVICE] [SPAN]", the changes of one
// device or of the whole home over the last SPAN, oldest first, read from
// the history file alone (nothing is asked of the unit, so it answers while
// the unit is away).
//
// Threads: any thread; each call opens the file, reads and closes it, so a
// reader and the recorder in another thread or process never share a
// connection (the busy timeout makes each wait for the other).
#ifndef VERU_CONSOLE_HISTORY_HISTORY_QUERY_H
#define VERU_CONSOLE_HISTORY_HISTORY_QUERY_H

#include <cstdint>
#include <string>
#include <vector>

// The span when none is typed: a day.
constexpr int64_t kDefaultHistorySpan = 24 * 3600;

// A span as typed: a positive whole number and its unit, s, m, h or d
// ("45s", "30m", "6h", "7d"). False for anything else.
bool ParseHistorySpan(const std::string& sText, int64_t* pSeconds);

// What follows the word "history" on a line: the device (a number or a
// whole name, empty for the whole home) and the span. The last word is the
// span when it begins with a digit and is not a plain number. False, with
// *pError set, when that word is no span.
bool ReadHistoryArguments(const std::string& sRest, std::string* pDevice,
                          int64_t* pSpan, std::string* pError);

struct HistoryEntry {
  int64_t tTime = 0;
  int iDevice = 0;
  std::string sName;
  std::string sVariable;
  bool bHasPrevious = false;
  std::string sPrevious;
  std::string sValue;
};

// One answer of the history command.
struct HistoryAnswer {
  // When it was asked, and the start of the span.
  int64_t tNow = 0;
  int64_t tSince = 0;
  // The device asked for, or 0 for the whole home.
  int iDevice = 0;
  std::vector<HistoryEntry> vecChanges;
};

// What a reading gave.
enum class HistoryRead {
  kRead,
  kNoFile,         // the file cannot be read (missing, not ours, broken)
  kUnknownDevice,  // no device of that number or name was ever recorded
};

// Reads the changes of sDevice (empty: every device) of unit iUnit (0: the
// unit the file recorded last) since tNow - tSpan from the file sPath.
// On anything but kRead, *pReason says why in one line.
HistoryRead ReadHistory(const std::string& sPath, int iUnit,
                        const std::string& sDevice, int64_t tNow,
                        int64_t tSpan, HistoryAnswer* pAnswer,
                        std::string* pReason);

// A time as the text form prints it: "2026-12-11 03:12:08", local time.
std::string FormatHistoryTime(int64_t tTime);

// One change as the text form prints it, without the line end:
// "2026-12-11 03:12:08  6 Front door  Tripped 0 -> 1" (local time; the
// first value recorded has "(none)" before it).
std::string FormatHistoryLine(const HistoryEntry& _Entry);

#endif  // VERU_CONSOLE_HISTORY_HISTORY_QUERY_H
