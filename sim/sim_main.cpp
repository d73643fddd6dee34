// veru-sim: a simulated home on loopback. A controller unit on IP:3480, two
// forward servers over HTTPS, the main and backup locator servers and a
// control listener for faults; see sim/simulator.h. Runs until a quit is
// asked for on the control listener, or SIGINT / SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/simulator.h"

namespace {

Sim::Simulator* g_pSimulator = nullptr;

void OnSignal(int) {
  if (g_pSimulator != nullptr) g_pSimulator->RequestQuit();
}

void Usage() {
  fprintf(stderr,
          "usage: veru-sim [--unit IP] [--fwd1 HOST:PORT] [--fwd2 HOST:PORT]\n"
          "                [--locator-main HOST:PORT] [--locator-backup HOST:PORT]\n"
          "                [--control HOST:PORT] [--serial N] [--user NAME]\n"
          "                [--password PASS] [--name TEXT] [--changes-per-second X]\n"
          "                [--ca-out FILE] [--verbose]\n"
          "--ca-out FILE: writes the forward servers' certificate, which is its\n"
          "own authority, to FILE (for VERU_CA_CERTIFICATE of the console)\n");
}

}  // namespace

int main(int argc, char** argv) {
  Sim::SimulatorConfig _Config;
  _Config.sLocatorMain = VERU_LOCATOR_MAIN;
  _Config.sLocatorBackup = VERU_LOCATOR_BACKUP;
  for (int i = 1; i < argc; ++i) {
    std::string sOption = argv[i];
    if (sOption == "--help") {
      Usage();
      return 0;
    }
    if (sOption == "--verbose") {
      _Config.bVerbose = true;
      continue;
    }
    if (i + 1 >= argc) {
      Usage();
      return 2;
    }
    std::string sValue = argv[++i];
    if (sOption == "--unit") _Config.sUnitIp = sValue;
    else if (sOption == "--fwd1") _Config.sFwd1 = sValue;
    else if (sOption == "--fwd2") _Config.sFwd2 = sValue;
    else if (sOption == "--locator-main") _Config.sLocatorMain = sValue;
    else if (sOption == "--locator-backup") _Config.sLocatorBackup = sValue;
    else if (sOption == "--control") _Config.sControl = sValue;
    else if (sOption == "--serial") _Config.iSerialNumber = atoi(sValue.c_str());
    else if (sOption == "--user") _Config.sUsername = sValue;
    else if (sOption == "--password") _Config.sPassword = sValue;
    else if (sOption == "--name") _Config.sName = sValue;
    else if (sOption == "--ca-out") _Config.sCaOut = sValue;
    else if (sOption == "--changes-per-second") _Config.dChangesPerSecond = atof(sValue.c_str());
    else {
      Usage();
      return 2;
    }
  }

  Sim::Simulator _Simulator(_Config);
  g_pSimulator = &_Simulator;
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGPIPE, SIG_IGN);
  if (!_Simulator.Start()) return 1;
  printf("veru-sim: unit %d \"%s\" at http://%s:3480/\n", _Config.iSerialNumber,
         _Config.sName.c_str(), _Config.sUnitIp.c_str());
  printf("veru-sim: forward servers https://%s/ and https://%s/ (account %s)\n",
         _Config.sFwd1.c_str(), _Config.sFwd2.c_str(), _Config.sUsername.c_str());
  printf("veru-sim: locators http://%s/ and http://%s/, control http://%s/\n",
         _Config.sLocatorMain.c_str(), _Config.sLocatorBackup.c_str(),
         _Config.sControl.c_str());
  fflush(stdout);
  _Simulator.Run();
  _Simulator.Stop();
  return 0;
}
