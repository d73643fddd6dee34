// The command line (getopt_long) and the texts of --help, --version and the
// "help" command.
#include "console/options.h"

#include <getopt.h>

#include <cstring>

#include "console/commands/command_table.h"
#include "console/mqtt/mqtt_topics.h"
#include "console/mqtt/mqtt_url.h"
#include "console/number_text.h"

#ifndef VERU_VERSION
#define VERU_VERSION "unknown"
#endif

namespace {

const char kProgram[] = "veru-console";

// The options that have no short form.
enum LongOnly {
  kMqtt = 1000,
  kMqttTopic,
  kMqttDiscovery,
  kHistory,
  kNoHistory,
  kHistoryDays,
};
// The longest retention --history-days takes: 100 years.
constexpr long kMostHistoryDays = 36500;

const struct option kOptions[] = {
    {"json", no_argument, nullptr, 'j'},
    {"once", no_argument, nullptr, '1'},
    {"do", required_argument, nullptr, 'd'},
    {"screen", no_argument, nullptr, 's'},
    {"mqtt", required_argument, nullptr, kMqtt},
    {"mqtt-topic", required_argument, nullptr, kMqttTopic},
    {"mqtt-discovery", required_argument, nullptr, kMqttDiscovery},
    {"timeout", required_argument, nullptr, 't'},
    {"history", required_argument, nullptr, kHistory},
    {"no-history", no_argument, nullptr, kNoHistory},
    {"history-days", required_argument, nullptr, kHistoryDays},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

void PrintUsage() {
  printf(
      "Usage: %s [OPTION]...\n"
      "Follows a home-automation controller unit: prints its home model when\n"
      "it arrives and whenever it changes, and runs the commands typed on\n"
      "standard input. The first run asks which unit to use.\n"
      "\n"
      "Options:\n"
      "  -j, --json     print the reports and command results as JSON events,\n"
      "                 one object per line on standard output; prompts and\n"
      "                 progress go to standard error\n"
      "  -1, --once     print the first full report and end (status 0, or 1\n"
      "                 when the unit cannot be reached); reads no commands\n"
      "                 and needs a unit saved by an earlier run\n"
      "  -d, --do LINE  run LINE as a console command against the saved unit\n"
      "                 and end, printing its result; may be given more than\n"
      "                 once (the lines run in order); starts no polling and\n"
      "                 reads no input\n"
      "  -t, --timeout SECONDS\n"
      "                 how long --do or --once may take as a whole (default\n"
      "                 60); past it the command in flight is stopped and the\n"
      "                 run fails with status 1\n"
      "  -s, --screen   show the home on one live full screen that updates in\n"
      "                 place, with keys to act (? lists them); needs a\n"
      "                 terminal; goes with none of --json, --once, --do\n"
      "      --mqtt URL also bridge the unit to the MQTT broker at URL,\n"
      "                 mqtt://[USER@]HOST[:PORT] (port 1883) or mqtts://...\n"
      "                 (TLS, port 8883): retained states, commands, Home\n"
      "                 Assistant discovery; the end of input does not end\n"
      "                 the program then; not with --once or --do\n"
      "      --mqtt-topic BASE\n"
      "                 the bridge's topics under BASE (default veru/SERIAL)\n"
      "      --mqtt-discovery PREFIX\n"
      "                 Home Assistant discovery under PREFIX (default\n"
      "                 homeassistant); off: none\n"
      "      --history FILE\n"
      "                 record every change of the home into the SQLite file\n"
      "                 FILE instead of history.db in the working directory\n"
      "                 (--once and --do record nothing)\n"
      "      --no-history\n"
      "                 record no history\n"
      "      --history-days N\n"
      "                 keep the history N days (1 to 36500, default 30)\n"
      "  -h, --help     print this help and end\n"
      "  -V, --version  print the program's name and version and end\n"
      "\n"
      "Commands (one per line):\n",
      kProgram);
  PrintCommands(stdout);
  printf(
      "\n"
      "Settings are kept in files named arg_* in the working directory (the\n"
      "unit, its addresses, the way of connecting and, if you save it, the\n"
      "password in plain text), so run the program from a folder of its\n"
      "own.\n"
      "\n"
      "Environment:\n"
      "  VERU_CA_CERTIFICATE=FILE  check the forward server's certificate\n"
      "                            against the authority in FILE\n"
      "  VERU_INSECURE_TLS=1       do not check the forward server's\n"
      "                            certificate (for testing only)\n"
      "  NO_COLOR=1                the full-screen view uses no colour\n"
      "  VERU_MQTT_PASSWORD=PASS   the MQTT broker's password for USER\n"
      "  VERU_MQTT_CA_CERTIFICATE=FILE\n"
      "                            check the MQTT broker's certificate\n"
      "                            against the authority in FILE\n"
      "\n"
      "Exit status:\n"
      "  0  after quit (q in --screen) or the end of input; --once: the\n"
      "     report was printed; --do: every command succeeded (done, a job\n"
      "     number, a URL found)\n"
      "  1  no unit to connect to, or the end came while the unit did not\n"
      "     answer; --once: no report; --do: a command failed (the reason on\n"
      "     standard error)\n"
      "  2  a usage error: an unknown option, options that do not go\n"
      "     together, a --do LINE that is not a command (nothing sent), or\n"
      "     --screen without a terminal of a known type; --mqtt without a\n"
      "     saved unit and without a terminal, or with credentials the\n"
      "     broker refuses at its first connection\n"
      "  128+N  ended by signal N (SIGINT, SIGTERM, SIGHUP)\n");
}

// One line naming what was wrong, then the hint. Exit status 2.
int UsageError(const char* sWhat, const char* sArgument) {
  fprintf(stderr, "%s: %s '%s'\n", kProgram, sWhat, sArgument);
  fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
  return 2;
}

}  // namespace

int ParseOptions(int argc, char** argv, ConsoleOptions* pOptions) {
  opterr = 0;  // the messages are ours
  bool bMqttTopic = false;
  bool bTimeout = false;
  for (;;) {
    int iOption = getopt_long(argc, argv, "+:j1d:st:hV", kOptions, nullptr);
    if (iOption == -1) break;
    switch (iOption) {
      case 'j':
        pOptions->m_bJson = true;
        break;
      case '1':
        pOptions->m_bOnce = true;
        break;
      case 'd':
        pOptions->m_vecDo.push_back(optarg);
        break;
      case 's':
        pOptions->m_bScreen = true;
        break;
      case kMqtt: {
        MqttUrl _Url;
        std::string sError;
        if (!ParseMqttUrl(optarg, &_Url, &sError)) {
          return UsageError(("--mqtt: " + sError + ":").c_str(), optarg);
        }
        pOptions->m_sMqttUrl = optarg;
        break;
      }
      case kMqttTopic:
      case kMqttDiscovery: {
        std::string sText = optarg;
        bool bTopic = iOption == kMqttTopic;
        if (!bTopic && sText == "off") {
          pOptions->m_sMqttDiscovery.clear();
          break;
        }
        std::string sProblem = TopicBaseProblem(sText);
        if (!sProblem.empty()) {
          std::string sWhat = std::string(bTopic ? "--mqtt-topic: "
                                                 : "--mqtt-discovery: ") +
                              sProblem;
          return UsageError(sWhat.c_str(), optarg);
        }
        (bTopic ? pOptions->m_sMqttTopic : pOptions->m_sMqttDiscovery) = sText;
        if (bTopic) bMqttTopic = true;
        break;
      }
      case 't': {
        // Whole seconds, at least one, up to a day.
        NumberText _Number = ReadNumberText(optarg);
        if (_Number.bSign || !_Number.bWhole || !NumberInRange(_Number, 1, 86400)) {
          return UsageError("not a number of seconds (1 to 86400)", optarg);
        }
        pOptions->m_iTimeout = static_cast<int>(_Number.iValue);
        bTimeout = true;
        break;
      }
      case kHistory:
        pOptions->m_sHistory = optarg;
        if (pOptions->m_sHistory.empty()) {
          return UsageError("an empty history file name", "--history");
        }
        break;
      case kNoHistory:
        pOptions->m_bNoHistory = true;
        break;
      case kHistoryDays: {
        NumberText _Number = ReadNumberText(optarg);
        if (_Number.bSign || !_Number.bWhole ||
            !NumberInRange(_Number, 1, kMostHistoryDays)) {
          return UsageError("not a number of days (1 to 36500)", optarg);
        }
        pOptions->m_iHistoryDays = static_cast<int>(_Number.iValue);
        break;
      }
      case 'h':
        PrintUsage();
        return 0;
      case 'V':
        printf("%s %s\n", kProgram, VERU_VERSION);
        return 0;
      default: {
        const char* sWhat = iOption == ':' ? "option requires an argument"
                                           : "unrecognized option";
        const char* sArgument = argv[optind - 1];
        if (strncmp(sArgument, "--", 2) == 0 || optopt == 0) {
          return UsageError(sWhat, sArgument);
        }
        char cShort[3] = {'-', static_cast<char>(optopt), '\0'};
        return UsageError(sWhat, cShort);
      }
    }
  }
  if (optind < argc) return UsageError("unexpected argument", argv[optind]);
  if (!pOptions->m_vecDo.empty() && pOptions->m_bOnce) {
    return UsageError("options that do not go together", "--do --once");
  }
  if (bTimeout && pOptions->m_vecDo.empty() && !pOptions->m_bOnce) {
    return UsageError("option needs --do or --once", "--timeout");
  }
  if (pOptions->m_bScreen && pOptions->m_bJson) {
    return UsageError("options that do not go together", "--screen --json");
  }
  if (pOptions->m_bScreen && pOptions->m_bOnce) {
    return UsageError("options that do not go together", "--screen --once");
  }
  if (pOptions->m_bScreen && !pOptions->m_vecDo.empty()) {
    return UsageError("options that do not go together", "--screen --do");
  }
  if (pOptions->m_sMqttUrl.empty() &&
      (bMqttTopic || pOptions->m_sMqttDiscovery != "homeassistant")) {
    return UsageError("options that do not go together",
                      bMqttTopic ? "--mqtt-topic without --mqtt"
                                 : "--mqtt-discovery without --mqtt");
  }
  if (!pOptions->m_sMqttUrl.empty() && pOptions->m_bOnce) {
    return UsageError("options that do not go together", "--mqtt --once");
  }
  if (!pOptions->m_sMqttUrl.empty() && !pOptions->m_vecDo.empty()) {
    return UsageError("options that do not go together", "--mqtt --do");
  }
  return -1;
}
