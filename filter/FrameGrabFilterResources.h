#pragma once

// The property page's dialog (101: grab time edit 1005, grab switch edit
// 1006 and their labels) and its title string (1015). On Windows they come
// from FrameGrabFilter.rc; on Linux this makes the same description known to
// the in-memory dialog manager.

void RegisterFrameGrabFilterResources();
