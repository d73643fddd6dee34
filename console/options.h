// The command line and the help texts. The program takes options only; its
// settings are in the setting files (see settings.h). Console thread only,
// before anything else runs.
#ifndef VERU_CONSOLE_OPTIONS_H
#define VERU_CONSOLE_OPTIONS_H

#include <cstdio>
#include <string>
#include <vector>

// What the command line asks for. All false is the interactive default.
struct ConsoleOptions {
  // The model and the command results as a JSON event stream on standard
  // output; every other line goes to standard error.
  bool m_bJson = false;
  // Print the first full report and end; read no commands.
  bool m_bOnce = false;
  // --do LINE, in the order given: run each as a console command against
  // the saved unit and end; no polling (one status request only when a line
  // names a device or asks for a camera stream, to learn the devices), no
  // input read.
  std::vector<std::string> m_vecDo;
  // The live full-screen view instead of the scrolling lines; needs a
  // terminal, and goes with none of --json, --once, --do.
  bool m_bScreen = false;
  // --timeout SECONDS: how long --do or --once may take as a whole; past
  // it the command in flight is stopped and the run fails (status 1).
  int m_iTimeout = 60;
  // --mqtt URL: also bridge the unit to the MQTT broker at URL (empty: no
  // bridge); --mqtt-topic BASE (empty: "veru/SERIAL"); --mqtt-discovery
  // PREFIX (empty after "off": no discovery).
  std::string m_sMqttUrl;
  std::string m_sMqttTopic;
  std::string m_sMqttDiscovery = "homeassistant";
  // The history file the interactive forms record into (--history FILE),
  // and --no-history. --once and --do never record.
  std::string m_sHistory = "history.db";
  bool m_bNoHistory = false;
  // --history-days N: how long the history keeps a change.
  int m_iHistoryDays = 30;

  // True when this run records the home's history.
  bool RecordsHistory() const {
    return !m_bNoHistory && !m_bOnce && m_vecDo.empty();
  }
};

// Reads the options into *pOptions. Returns -1 when the program is to go on,
// or the exit status it is to end with: 0 after --help or --version (printed
// on standard output), 2 after an unknown option, a stray argument or
// options that do not go together, a --timeout that is not a whole number
// of seconds from 1 on or is given without --do or --once (one line and the
// usage hint on standard error).
int ParseOptions(int argc, char** argv, ConsoleOptions* pOptions);

#endif  // VERU_CONSOLE_OPTIONS_H
