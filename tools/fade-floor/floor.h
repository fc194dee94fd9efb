// The operating system's side of fade-floor: a real window whose input queue
// the steps look at. One neutral header; win32_floor.cpp and qt_floor.cpp
// implement it.
#pragma once

// Creates and shows a window like the program's (a top-level window of the
// same toolkit); 1 when it exists.
int OpenFloorWindow();
// Looks at the window's input queue without waiting, the least the toolkit
// allows, and takes whatever is there.
void PeekFloorQueue();
void CloseFloorWindow();
