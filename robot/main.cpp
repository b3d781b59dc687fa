// virtual-robot: runs steer with a simulated board, robot, camera and position producer.
#include <cstdio>

int main() {
  (void)std::fputs("virtual-robot: not built yet\n", stderr);
  return 1;
}
