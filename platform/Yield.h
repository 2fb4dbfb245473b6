#pragma once

// Lets every pending event of the event loop run once (timer ticks, socket
// events, clicks), then returns. Handlers call it where they hand the loop a
// moment in the middle of their work.
void yieldToEventLoop();
