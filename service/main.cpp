#include <cstdio>

int main() {
  std::printf("usage: service a|d|q \"host command line\"\n");
  return 0;
}
