// What a device's row in the full-screen view's list tells at a glance: its
// variables turned into a few short parts, most telling first, each with
// the role it is drawn in ("TRIPPED 3 min ago" in the alarm role, "armed",
// "temp 20", "set 21", "on 30%", "55%").
//
// The rules, in the order their parts come:
//   - on or off and the level, as DeviceStateOf (console/report/
//     device_state.h) reads them, in one part ("on 30%"); a Status that
//     says neither is shown as it is ("Status=Busy");
//   - then a table of the variables that sensors, thermostats and cameras
//     have: a flag as a word ("TRIPPED" or "ok", "armed" or "disarmed"), a
//     value with a label ("temp 20", "set 21"), a level as its percentage
//     when it is one ("55%", else "level 300"), a moment as its age
//     ("last trip 3 min ago"; with the flag it belongs to set, the age goes
//     into the flag's part: "TRIPPED 3 min ago");
//   - a device none of this knows shows its first variables as
//     "name=value", never one whose name says it is a secret (the detail
//     page shows those masked).
// Numbers are read as console/number_text.h reads them. Parts hold raw
// text from the unit, escaped when they are written into cells.
// Threads: pure functions, any thread (the caller holds whatever guards the
//   variables it passes).
#ifndef VERU_CONSOLE_SCREEN_SCREEN_GLANCE_H
#define VERU_CONSOLE_SCREEN_SCREEN_GLANCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "console/screen/screen_layout.h"
#include "engine/variable_map.h"

struct ScreenGlancePart {
  std::string m_sText;
  // kPlain: drawn as the rest of its row.
  ScreenRole m_eRole = ScreenRole::kPlain;
};

// The parts of a device's state cell, most telling first, as many as fit
// in iWidth columns when joined with kScreenGlanceJoin: the first always
// (the writer cuts it when it is too long), then the others in order while
// they fit. tNow (seconds since the epoch) is what moments are aged against.
std::vector<ScreenGlancePart> ScreenGlanceParts(const Veru::VariableMap& mapVariables,
                                                int64_t tNow, int iWidth);
constexpr const char* kScreenGlanceJoin = ", ";

// The parts as one line of text, joined.
std::string ScreenGlanceText(const std::vector<ScreenGlancePart>& vecParts);

// How long ago a moment was, tSeconds before now: "12 s ago", "3 min ago",
// "5 h ago" (under two days), "3 d ago"; a moment ahead of the clock reads
// "in 3 min".
std::string ScreenAgeText(int64_t tSeconds);

#endif  // VERU_CONSOLE_SCREEN_SCREEN_GLANCE_H
