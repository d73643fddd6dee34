#include "console/front_end.h"

int main() {
  FrontEnd _FrontEnd;
  _FrontEnd.Run();
  return 0;
}
