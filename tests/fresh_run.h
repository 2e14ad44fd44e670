// Every unit test starts as a fresh run of the tool on the fake platform:
// the default options, an empty report stream and no failure recorded.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/opt.h"
#include "options/front_end.h"
#include "platform/platform-fake.h"
#include "platform/platform.h"
#include "report/diagnostic.h"
#include "report/out.h"
#include "report/test_hooks.h"

class FreshRun : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    OutReset();
    ForgetFailures();
    opt = TOpt();
  }

  // What the run has written to standard output, its buffer sent first.
  static std::string Stdout() {
    OutFlush();
    return fake::Stdout();
  }

  // Applies `args` as main does, after a program named Space.exe; the result
  // of ApplyOptions.
  static int Apply(const std::vector<const char*>& args) {
    std::vector<std::string> words{"C:\\TOOLS\\Space.exe"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    return ApplyOptions(static_cast<int>(words.size()), argv.data());
  }
};
