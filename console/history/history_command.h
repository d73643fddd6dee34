// The history command, "history [DEVICE] [SPAN]", as the command table runs
// it: the arguments read, then the history file read (never the unit).
// The report forms show the answer (Report::History).
//
// Threads: any thread that runs commands; it opens the file for the call
// only.
#ifndef VERU_CONSOLE_HISTORY_HISTORY_COMMAND_H
#define VERU_CONSOLE_HISTORY_HISTORY_COMMAND_H

#include <cstdint>
#include <string>

#include "console/history/history_query.h"

struct HistoryOutcome {
  // 0: read, the answer holds the changes; 1: the file cannot be read;
  // 2: the line is refused (a span that cannot be read, a device the
  // history does not know). sError says why, in one line.
  int iStatus = 0;
  std::string sError;
  HistoryAnswer _Answer;
};

// sArguments: what follows the word "history". sPath: the history file;
// iUnit: the current unit's serial number (0: the unit the file recorded
// last); tNow: the time it is asked at.
HistoryOutcome RunHistoryCommand(const std::string& sArguments,
                                 const std::string& sPath, int iUnit,
                                 int64_t tNow);

// The text form of an answer: one line a change (FormatHistoryLine), each
// with its line end; empty when there is none.
std::string HistoryText(const HistoryAnswer& _Answer);

#endif  // VERU_CONSOLE_HISTORY_HISTORY_COMMAND_H
