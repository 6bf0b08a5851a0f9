#include "displayed_video_size.h"

std::atomic<int> displayedVideoWidth{0};
std::atomic<int> displayedVideoHeight{0};
