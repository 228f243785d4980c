// kba604: the KBA604 configurator. Until the window front end exists the program is its
// headless runner.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fputs("kba604: the command-line runner is not built yet\n", stderr);
  return 1;
}
