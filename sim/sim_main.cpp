// veru-sim: the simulated home (grown in a later step).
#include <cstdio>

int main() {
  printf("veru-sim\n");
  return 0;
}
