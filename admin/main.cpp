#include <cstdio>

int main() {
  std::printf("usage: vaneconf [profile]\n");
  return 0;
}
