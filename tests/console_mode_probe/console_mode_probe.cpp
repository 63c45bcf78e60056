// Prints the input mode of the console it runs in, so that a test can see
// what a program run before it in the same console left behind.
#include <windows.h>

#include <cstdio>

int main() {
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
    std::printf("MODE=none\n");
    return 1;
  }
  std::printf("MODE=%lu\n", static_cast<unsigned long>(mode));
  return 0;
}
