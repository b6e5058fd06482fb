/* A program that links Cinelink at load time, as framory does, and prints
 * the result of InitializeQTML and of one forwarded call after it. The
 * bridge tests copy it into folders of their own to try the program-folder
 * step of the search. */
#include <stdio.h>

#include "bridge/Cinelink.h"

int main(void) {
  const int init = InitializeQTML(0);
  const int enter = EnterMovies();
  printf("%d %d\n", init, enter);
  TerminateQTML();
  return 0;
}
