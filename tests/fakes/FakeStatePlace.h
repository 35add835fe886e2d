#pragma once
// A state place that gives what the test set.

#include "platform/StatePlace.h"

namespace kw::fake {

class FakeStatePlace : public IStatePlace {
 public:
  TStatePlace Open() override {
    ++Opens;
    return Place;
  }
  TStatePlace Place{u"C:\\ProgramData\\Keywarden\\S-1-5-21-1", true, "secret", false};
  int Opens = 0;
};

}  // namespace kw::fake
