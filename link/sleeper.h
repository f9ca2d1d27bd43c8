#pragma once

#include <functional>

// Blocks the calling thread for the given milliseconds. Injected so tests do not sleep.
using Sleeper = std::function<void(int milliseconds)>;

Sleeper realSleeper();
