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
    now_.weekday = Weekday(y, mo, d);
  }
  // 1 = Monday .. 7 = Sunday, as the system clock tells it.
  static int Weekday(int y, int m, int d) {
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    int sunday0 = (y + y / 4 - y / 100 + y / 400 + offsets[m - 1] + d) % 7;
    return sunday0 == 0 ? 7 : sunday0;
  }
  qn::DateTime Now() const override { return now_; }
  void Set(const qn::DateTime& t) { now_ = t; }

 private:
  qn::DateTime now_;
};
