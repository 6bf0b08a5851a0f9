// Size in pixels of the live picture as the view last laid it out. The view
// writes it on the GUI thread; the edge search reads it on the capture thread
// (a search may see the pair of the previous layout).
#pragma once

#include <atomic>

extern std::atomic<int> displayedVideoWidth;
extern std::atomic<int> displayedVideoHeight;
