/* A program that links Cinelink at load time, as framory does, and prints
 * the result of InitializeQTML and of one forwarded call after it. The
 * bridge tests copy it into folders of their own to try the program-folder
 * step of the search. With an argument, it first loads the library that
 * names, as another component of the program might have. */
#include <dlfcn.h>
#include <stdio.h>

#include "bridge/Cinelink.h"

int main(int argc, char** argv) {
  if (argc > 1 && dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) == NULL) {
    printf("cannot load %s\n", argv[1]);
    return 1;
  }
  const int init = InitializeQTML(0);
  const int enter = EnterMovies();
  printf("%d %d\n", init, enter);
  TerminateQTML();
  return 0;
}
