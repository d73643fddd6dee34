// Report is the one way the console tells what it learns: every report about
// the home model, the connection and the result of a command goes through
// the front end's one Report. Run chooses the form once, before the poll
// thread starts: the text lines (TextReport), the JSON event stream
// (JsonReport) or a full-screen view; --once wraps whichever it is in a
// OnceReport. A front end that never ran Run reports as text on standard
// output.
//
// Where each kind of line goes:
//   - the report itself (model, command results, camera URLs) goes to the
//     report's own stream, given at construction;
//   - the program's other lines (the progress of each fetch, "GET:" ...
//     " got: N bytes", prompts, the wizard) are printed on standard output
//     by whoever prints them, and the report does not see them. When the
//     report must be alone on standard output (JSON, --once, --do), Run calls
//     SetStandardOutputAside first: the report writes to the descriptor
//     standard output was, and descriptor 1 becomes standard error, so the
//     other lines go there. That is the one place this is decided.
//   - help, "No such device" and the notices of suspend and resume go to
//     standard error in the text and JSON forms.
//
// Threads and the model lock (the front end's m_Mutex); "the command
// thread" is the thread that runs a command: the console thread, or with the
// full-screen view the view's worker (see console/program_end.h):
//   - Device and Scene run on the poll thread inside a merge, the lock HELD;
//     Device also runs on the command thread for "show N", lock held.
//   - Full runs on the poll thread after a merge, the lock NOT held (the
//     poll thread is the model's only writer); for "show" (bShown) it runs on
//     the command thread with the lock HELD. EngineState and Partial run on
//     the poll thread, lock not held.
//   - The connection methods run on the poll thread, lock not held.
//   - Result, NoSuchDevice, Help, Notice and History run on the command
//     thread, lock not held.
//   So the poll thread and the command thread may call a Report at the same
//   time: each form writes every report as one piece (one write call), so
//   reports never interleave. No method may take the model lock or block for
//   long (a merge waits for it).
// Ownership: the front end owns its Report and never frees it before the end
// of the program; a OnceReport owns the report it wraps. Records given by
// reference are borrowed for the call only.
#ifndef VERU_CONSOLE_REPORT_REPORT_H
#define VERU_CONSOLE_REPORT_REPORT_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/model.h"

namespace Veru {
class PollLoop;
}

struct HistoryAnswer;

// What a device command did, in one record: what the text line, the JSON
// event, a full-screen message line or a script's exit status is made from.
struct CommandResult {
  enum class Kind {
    kNothing,  // a device number without a command word: nothing sent
    kAction,   // an action sent with RunAction
    kImage,    // the camera's still image URL asked for
    kStream,   // the camera's stream URL asked for
  };
  // The line as typed.
  std::string sCommand;
  Kind iKind = Kind::kNothing;
  // RunAction's result: 0 done, a job number, or -1 failed; -2 when no
  // action was sent (nothing, or a camera word).
  int iResult = -2;
  // The controller's text after "ERROR:", as it sent it (it starts with a
  // blank and may end with a line end).
  std::string sMessage;
  // Why the command failed when the controller sent no text (no answer,
  // refused credentials, the time allowed ran out, ...); empty otherwise.
  // The JSON event's "message" carries it when sMessage is empty; the text
  // line does not show it (the reason goes to standard error).
  std::string sReason;
  // kImage and kStream: the URL (empty when none was found); kStream: its
  // type ("bad_device", "not_supported", "failed", or the controller's
  // status).
  std::string sURL;
  std::string sType;

  // True for an action done (0) or queued (a job number), and for a camera
  // URL found.
  bool Succeeded() const;
};

class Report {
 public:
  virtual ~Report() = default;

  // --- The home model ------------------------------------------------------
  // A device or scene changed by a partial reply (bShown false), or a device
  // asked for with "show N" (bShown true).
  virtual void Device(const Veru::Device& _Device, bool bShown) = 0;
  virtual void Scene(const Veru::Scene& _Scene) = 0;
  // The controller's state changed (or contact was lost: state -2).
  virtual void EngineState(const Veru::PollLoop& _PollLoop) = 0;
  // The whole model: after a full reply (bShown false) or for "show"
  // (bShown true). The poll loop's maps are read during the call only.
  virtual void Full(const Veru::PollLoop& _PollLoop, bool bShown) = 0;
  // A partial reply that changed no state of the controller.
  virtual void Partial(int iDataVersion, int iLoadTime) = 0;

  // --- The connection ------------------------------------------------------
  virtual void PasswordNeeded() = 0;
  virtual void UserPasswordNeeded() = 0;
  // Polling goes on after a reconnection, remotely or not.
  virtual void ConnectionRetry(bool bRemote) = 0;
  // The unit cannot be reached any more; ConnectionLost follows.
  virtual void UnableToConnect() = 0;
  virtual void ConnectionLost() = 0;
  // A failed poll: iCount failures in a run that began tElapsed seconds ago.
  virtual void NoResponse(int iCount, int64_t tElapsed) = 0;
  // A poll answered again after an outage of tOutageSeconds.
  virtual void ConnectionRestored(int64_t tOutageSeconds) = 0;

  // --- Commands (the command thread) ---------------------------------------
  virtual void Result(const CommandResult& _Result) = 0;
  // "show WORD" where WORD names no known device.
  virtual void NoSuchDevice(const std::string& sCommand,
                            const std::string& sWord) = 0;
  // A device command refused for what it was given (a level that is not
  // one), nothing sent; the caller has told sReason on standard error. The
  // forms with a result event for every command give one (result -1,
  // "message" sReason); the others do nothing. A form that wraps others
  // passes it on like every other report (pure, so that no wrapper can
  // drop it by forgetting it).
  virtual void Refused(const std::string& sCommand,
                       const std::string& sReason) = 0;
  // "help" or "?": the list of commands.
  virtual void Help() = 0;
  // A short word on what a command did that has no result line ("polling
  // suspended"); the text and JSON forms write "veru-console: " sText on
  // standard error.
  virtual void Notice(const std::string& sText) = 0;
  // "history": the changes read from the history file (see
  // console/history/history_command.h).
  virtual void History(const HistoryAnswer& _Answer) = 0;
};

// The controller's error text (CommandResult::sMessage) taken apart once,
// for every form: the blanks it starts with (the one after "ERROR:"), its
// words, and the line ends it ends with (carriage returns dropped, each
// line feed counted).
struct ControllerText {
  std::string sLeading;
  std::string sWords;
  int iLineEnds = 0;
};
ControllerText SplitControllerText(const std::string& sMessage);

// Takes the descriptor standard output is for a report of its own and
// points descriptor 1 at standard error, so that every other line the
// program prints goes there. The stream returned is line-buffered, is not
// inherited by the fetcher, and lives to the end of the program. Null
// (nothing changed) when that cannot be done.
FILE* SetStandardOutputAside();

// "45 s", "2 min 40 s", "1 h 3 min 5 s": a span of whole seconds as the
// connection lines tell it (0 and negative spans: "0 s").
std::string FormatSpan(int64_t tSeconds);

#endif  // VERU_CONSOLE_REPORT_REPORT_H
