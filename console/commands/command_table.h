// The console's command words, one table, and the reading of one command
// line against it. Every word the console takes is one row: the word, how
// it is matched, whether it needs a device number, what it runs and its
// help line. The command loop, --do and the help texts all use this table.
//
// How a line is read (ReadCommandLine):
//  1. The device number: the line's leading decimal integer (blanks and a
//     sign before it, see console/number_text.h), as typed; 0 when there is
//     none. One beyond the 32-bit range is refused, never clamped.
//  2. The whole-word rows are tried first, at the line's command word: its
//     first word, or the word right after the device number. So
//     "5 call S Reconnect" and "5 call S A Mode=on" are calls. "quit" counts
//     only as the whole line.
//  3. Then the substring rows, in table order, anywhere in the line
//     (case-sensitive): the first one found decides, so "5on" switches 5 on
//     and "5 dimension" too; a row that needs a device number is tried only
//     when there is one other than 0. A device number with nothing after it
//     names no command and is no error (the console answers it with its
//     result line); one followed by words that hold no command word is.
//     A level (dim) is what follows the word: nothing (50) or a whole
//     number from 0 to 100 without a sign; anything else refuses the line
//     (bRefused), so nothing is sent.
//  4. A line that begins with no number may begin with a device's whole
//     name (case-insensitive, the longest name that fits) followed by a
//     command: it is read as if the device's number had been typed. Such a
//     line holds a device command's word; one that holds none is not a
//     command, and no name is looked up for it.
//  "quit" and the other rows say in the table what differs between them:
//  whether --do runs them, whether only the person at the console may give
//  them, the words that tell they ran, and what the caller does next.
//
// Pure functions: no lock, no output, safe on any thread. The device names
// are handed in by the caller, copied under the model lock.
#ifndef VERU_CONSOLE_COMMANDS_COMMAND_TABLE_H
#define VERU_CONSOLE_COMMANDS_COMMAND_TABLE_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "console/report/report.h"

// How a row's word is found in a line.
enum class WordMatch {
  kWholeLine,  // the line is exactly the word
  kWord,       // the line's command word is the word
  kSubstring,  // the word appears anywhere in the line
};

// What a row runs.
enum class CommandKind {
  kAction,        // one device action (the row's service, action, argument)
  kCameraImage,   // the camera's still-image URL
  kCameraStream,  // the camera's stream URL
  kCall,          // any action: N call SERVICE ACTION [NAME=VALUE]...
  kShow,          // the model as known now, or one device
  kScene,         // scene N: the unit runs one scene
  kHistory,       // history [DEVICE] [SPAN]: the changes, from the file
  kSuspend,
  kResume,
  kConnect,  // the connection wizard
  kHelp,
  kQuit,
};

// What the caller of a command must do once it has run: the command
// itself only says so, so the command code never calls back into the loop
// that reads lines.
enum class CommandNext {
  kGoOn,    // read the next line
  kWizard,  // run the connection wizard
  kQuit,    // end the program as the end of input does
};

struct CommandRow {
  const char* sWord;
  const char* sAlias;  // another word for the same row, or null
  WordMatch eMatch;
  bool bNeedsDevice;
  CommandKind eKind;
  // kAction only: the action's service, name and argument. A row that
  // takes a level (dim) has the level written after its argument.
  const char* sService;
  const char* sAction;
  const char* sArgument;
  bool bTakesLevel;
  // The help lines: syntax and effect, and a second pair or nulls.
  const char* sSyntax;
  const char* sHelp;
  const char* sMoreSyntax;
  const char* sMoreHelp;
  // What differs between the kinds of command, said once here:
  // why --do does not run the row (null: it does);
  const char* sNotForDo;
  // true when only the person at this console may give the command, never
  // a remote source of commands (the wizard, the end, polling itself);
  bool bLocalOnly;
  // the words a message line shows when the row has run without a result
  // of its own (null: none);
  const char* sDoneWords;
  // and what the caller must do next.
  CommandNext eNext;
};

// True for a row whose outcome is a result (a device command, a scene
// run): reported as the result line or event, and counted by --do.
bool ReportsResult(const CommandRow& _Row);

// The rows in help order; the substring rows among them are in the order
// they are looked for.
const std::vector<CommandRow>& CommandRows();

// A device as a line may name it: its number and its name.
using DeviceName = std::pair<int, std::string>;

// One line as ReadCommandLine understood it.
struct CommandLine {
  // The line as typed.
  std::string sLine;
  // The row that decides; null when the line is not a command.
  const CommandRow* pRow = nullptr;
  // The device the command is for (0: none). Also set for a line that
  // holds a device number but no command word ("7", "7 blink"), which
  // the console answers with a result line that sends nothing ("7 blink"
  // also with sError).
  int iDevice = 0;
  // kAction: the arguments of the action. kCall: the service, the action
  // and the encoded arguments ("NAME=VALUE&NAME=VALUE").
  std::string sService;
  std::string sAction;
  std::string sArguments;
  // kShow: the word after "show" (empty: the whole model). kHistory: what
  // follows the word (a device and a span, read already).
  std::string sShowWhat;
  // kScene: the scene's number.
  int iScene = 0;
  // Why the line is not a command (or a call is refused): one line for
  // standard error, without its line end. Empty for a blank line.
  std::string sError;
  // True when the line is a device command refused for what it was given
  // (a level that is not one): sError says why; nothing is to be sent.
  bool bRefused = false;
  // True when the line began with no number and a device name had to be
  // looked for: the caller must pass the names for the line to be read.
  bool bNeedsNames = false;
};

// What running one command line gave (FrontEnd::RunCommand). The console
// reports it; --do turns it into its exit status; the full-screen view shows
// it on its message line.
struct CommandOutcome {
  // False when the line is not a command: nothing was done or sent, and
  // sError says why (empty for a blank line).
  bool bCommand = false;
  // The row that ran; null when none did.
  const CommandRow* pRow = nullptr;
  // What the report shows of it: the line, what was sent, the result, the
  // controller's text, a camera's URL. Its kind is kNothing for a line with
  // a device number but no command word, which the console answers, as it
  // always has, with a result line that sends nothing.
  CommandResult _Result;
  // True when the console reports _Result: a device command, or a device
  // number with no command word.
  bool bReportResult = false;
  // What the caller must do next (the row's, or kGoOn when none ran).
  CommandNext eNext = CommandNext::kGoOn;
  // The line was refused for what it was given, as a line that is not a
  // command is: a device command (CommandLine::bRefused), or a history
  // of a device the history does not know. --do ends with 2.
  bool bRefused = false;
  // Why the command failed or was refused when the result cannot say it
  // (no answer, refused credentials, no URL, a refused call), for standard
  // error; empty otherwise.
  std::string sError;

  // Done, a job number, a URL found, or a command that sends nothing
  // (help, show, suspend, ...) carried out.
  bool Succeeded() const;
};

// Reads one command line. vecNames are the devices of the model, or null
// when the caller has not read them (then a line that needs them comes
// back with bNeedsNames and no row).
CommandLine ReadCommandLine(const std::string& sLine,
                            const std::vector<DeviceName>* pNames);

// The help lines of every row, "  SYNTAX     EFFECT", one a line.
void PrintCommands(FILE* pFile);

// The action arguments of "call": each "NAME=VALUE" word percent-encoded
// (NAME and VALUE apart, the RFC 3986 unreserved characters unchanged) and
// joined by "&". False, with sError set, when a word has no "=" or an empty
// name.
bool EncodeCallArguments(const std::vector<std::string>& vecWords,
                         std::string* pArguments, std::string* pError);

// A service or action name of "call": not empty, only letters, digits and
// ": . _ -".
bool IsCallName(const std::string& sName);

#endif  // VERU_CONSOLE_COMMANDS_COMMAND_TABLE_H
