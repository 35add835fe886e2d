#pragma once
// The windows without windows: every service faked, an application object
// on a recording host, and the three globals pointing at test forms.

#include "tests/fakes/FakeDesktop.h"
#include "tests/fakes/FakeHost.h"
#include "tests/fakes/FakeRegEdit.h"
#include "tests/native/MonitorHarness.h"
#include "ui/Services.h"

namespace kw::test {

struct TFakeServices {
  TFakePlatform Fake;
  fake::FakeShell Shell;
  fake::FakeSound Sound;
  fake::FakeClock Clock;
  fake::FakeRegEdit Editor{true};
  fake::FakeCodePage CodePage;
  TServices Services{Fake.Platform, Shell, Sound, Clock, Editor, Editor, CodePage};
  fake::FakeHost Host;
  vcl::TApplication App{Host};

  TFakeServices() { vcl::SetApplication(&App); }
  ~TFakeServices() { vcl::SetApplication(nullptr); }
};

}  // namespace kw::test
