// The words of the full-screen view's message line for what came of a
// command: its result ("5 on: done", "5 dim 30: failed: ..."), or why a
// line ran nothing.
// Threads: pure functions, any thread.
#ifndef VERU_CONSOLE_SCREEN_SCREEN_MESSAGES_H
#define VERU_CONSOLE_SCREEN_SCREEN_MESSAGES_H

#include <string>

#include "console/commands/command_table.h"
#include "console/report/report.h"

// The message line for a command's result.
std::string ScreenMessageOf(const CommandResult& _Result);
// The message line for what came of a command line; empty when a show or
// help has put its own message already (leave it).
std::string ScreenMessageOf(const CommandOutcome& _Outcome);

#endif  // VERU_CONSOLE_SCREEN_SCREEN_MESSAGES_H
