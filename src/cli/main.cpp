#include <cstdio>

int main() {
  std::puts("kestrella-cli: under construction");
  return 0;
}
