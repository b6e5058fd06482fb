/* The last call a test runtime recorded: its selector and its arguments as
 * the routine received them. */
#ifndef FRAMORY_TESTS_BRIDGE_TESTRUNTIMERECORD_H
#define FRAMORY_TESTS_BRIDGE_TESTRUNTIMERECORD_H

#include <stdint.h>

typedef struct TestCall {
  uint32_t selector;
  int64_t integers[9];
  double doubles[8];
} TestCall;

#endif
