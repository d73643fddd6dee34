// The setting files: one small file per key in the working directory, named
// exactly after the key, holding the value with no line end after it.
// Safe on any thread: one save runs at a time (SaveSetting and
// FrontEnd::SaveSettings wait for a save in progress), and a save takes no
// other lock but the model mutex, briefly, to copy the unit's fields.
#ifndef VERU_CONSOLE_SETUP_SETTINGS_H
#define VERU_CONSOLE_SETUP_SETTINGS_H

#include <string>

namespace Veru {
class Engine;
}

// The value of a setting: the first line of the file (at most 999 characters,
// its line end kept when it has one), or an empty text when the file is
// missing, unreadable or not a regular file (a FIFO is never waited on).
std::string LoadSetting(const std::string& sKey);

// Replaces the setting file with sValue, atomically: a temporary file
// "KEY.tmp.PID.N" beside it is written whole, flushed, and renamed over the
// old one, so a crash or a full disk never leaves a torn setting. A setting
// file that is a symbolic link is written through the link (the link stays).
// "arg_pass" is made readable by its owner only. Returns 0, or -1 when the
// file could not be written: the old one then stays as it was, and one line
// naming the file and the reason goes to standard error.
// FrontEnd::SaveSettings writes its whole set the same way, all or nothing.
int SaveSetting(const std::string& sKey, const std::string& sValue);

// Waits until no save is in progress and keeps every later save from
// starting, for good: the program's end by a signal calls it so that it never
// stops in the middle of a save.
void HoldSettingSaves();

// Fills a unit record from the unit's setting files, every one of them
// ("arg_serialnumber" through "arg_usingbackup"; FrontEnd::SaveSettings
// writes the same set). A missing file gives an empty text, a false flag,
// serial number 0. The record must not be shared yet.
void RestoreUnitSettings(Veru::Engine* pEngine);

// Removes, from the working directory, temporary setting files that a save
// interrupted by the end of its process left behind. Called once at start.
void RemoveLeftoverSettingFiles();

// The leading decimal integer of a text, as the setting files and typed
// answers are read: optional blanks and sign, then digits; 0 when there are
// none. Values beyond the int range are clamped to it.
int LeadingInteger(const char* cText);

#endif  // VERU_CONSOLE_SETUP_SETTINGS_H
