// The command loop.
#include "console/front_end.h"

void FrontEnd::CommandLoop() {}
void FrontEnd::HandleCommand(const char*) {}
bool FrontEnd::ReadLine(char* cBuffer) {
  cBuffer[0] = '\0';
  return false;
}
