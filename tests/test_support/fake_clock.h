// A clock that tells the time the test sets.
#pragma once

#include "base/clock.h"

class FakeClock : public qn::Clock {
 public:
  FakeClock(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    now_.year = y;
    now_.month = mo;
    now_.day = d;
    now_.hour = h;
    now_.minute = mi;
    now_.second = s;
  }
  qn::DateTime Now() const override { return now_; }
  void Set(const qn::DateTime& t) { now_ = t; }

 private:
  qn::DateTime now_;
};
