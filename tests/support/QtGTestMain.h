// main() for a widget test binary: a QApplication on whatever platform the
// environment names (the test runner sets "offscreen"), then GoogleTest.
// Include it in exactly one file of the binary.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
