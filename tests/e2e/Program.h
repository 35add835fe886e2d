#pragma once
// The program under test, whose end every test checks: a crash or a hang at
// exit is a failure of the test that ran it.

#include <gtest/gtest.h>

#include "tests/e2e/Driver.h"

namespace kw::e2e {

class TProgram : public TKeywarden {
 public:
  using TKeywarden::TKeywarden;
  ~TProgram() {
    const DWORD code = End();
    EXPECT_EQ(code, 0u) << "Keywarden ended with code 0x" << std::hex << code;
  }
};

}  // namespace kw::e2e
