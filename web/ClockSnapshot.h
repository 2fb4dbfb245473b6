#pragma once

// What the live page is told about the clock at one moment: a plain value,
// taken from the engine by whoever answers, so that the answer itself can be
// built and checked without a clock.
struct ClockSnapshot
{
    int secondsOfDay = 0;  // 0 to 86399
    bool running = false;  // the model time is counting
    bool held = false;     // stopped by a time set while the broadcasts go on
    int speed = 1;         // N of N:1
    int intervalMs = 1000; // one model second in real milliseconds
    bool control = false;  // a control password is set
};
