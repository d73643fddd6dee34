// Program entry: starts the socket layer and runs the console front end.
#include <cstdio>

#include "console/front_end.h"
#include "console/socket_layer.h"

int main() {
  WSADATA wsaData;
  if (WSAStartup(MAKEWORD(1, 1), &wsaData) != 0) return 1;
  // Line-buffered even behind a pipe, so every finished line reaches a
  // script or tee at once; prompts are flushed before each read.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  FrontEnd _FrontEnd;
  return _FrontEnd.Run();
}
