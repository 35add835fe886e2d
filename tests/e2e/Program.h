#pragma once
// The program under test, whose end every test checks: a crash or a hang at
// exit is a failure of the test that ran it.

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>

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

// A run under a second locale must really give the programs that locale's
// ANSI code page: KW_CODE_PAGE names the one expected. The program inherits
// the driver's environment, and with it the code page.
class TCodePageCheck : public ::testing::Environment {
 public:
  void SetUp() override {
    std::printf("ANSI code page %u\n", ::GetACP());
    wchar_t expected[16];
    const DWORD n = ::GetEnvironmentVariableW(L"KW_CODE_PAGE", expected, 16);
    if (n > 0 && n < 16) {
      EXPECT_EQ(::GetACP(), std::wcstoul(expected, nullptr, 10));
    }
  }
};
inline ::testing::Environment* const kCodePageCheck =
    ::testing::AddGlobalTestEnvironment(new TCodePageCheck);

}  // namespace kw::e2e
