#include <cstdio>

int main() {
  std::printf("usage: vanehost [-?] [-s] [-p profile] [-c]\n");
  return 0;
}
