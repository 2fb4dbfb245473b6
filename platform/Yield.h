#pragma once

// Lets every pending event of the event loop run once (timer ticks, socket
// events, clicks), then returns. Handlers call it where they hand the loop a
// moment in the middle of their work.
//
// NOTE: a handler that is itself running inside another handler's yield does
// not yield again: the outer yield is already serving the loop, and yields
// nested in yields would let one busy stretch (a burst of web connections)
// grow until the broadcast falls behind. Code that waits by yielding in a loop
// must therefore not run inside a yield.
void yieldToEventLoop();
