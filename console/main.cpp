// Program entry: reads the options, starts the socket layer and runs the
// console front end.
#include <cstdio>

#include "console/front_end.h"
#include "console/options.h"
#include "console/program_end.h"
#include "console/socket_layer.h"
#include "engine/transport.h"

int main(int argc, char** argv) {
  ConsoleOptions _Options;
  int iStatus = ParseOptions(argc, argv, &_Options);
  if (iStatus >= 0) return iStatus;
  // Before any other thread starts, so that every thread has the ending
  // signals blocked and only the signal thread takes them.
  StartSignalThread();
  WSADATA wsaData;
  if (WSAStartup(MAKEWORD(1, 1), &wsaData) != 0) return 1;
  // Line-buffered even behind a pipe, so every finished line reaches a
  // script or tee at once; prompts are flushed before each read.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (Veru::CertificateCheckIsOff()) {
    fprintf(stderr,
            "WARNING: VERU_INSECURE_TLS=1: server certificates are not "
            "checked; the password goes to whoever answers.\n");
  }
  FrontEnd _FrontEnd;
  _FrontEnd.SetOptions(_Options);
  return _FrontEnd.Run();
}
