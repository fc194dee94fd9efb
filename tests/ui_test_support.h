// What the control-layer tests share.
#pragma once

#include <vector>

#include "ui/controls.h"

// Takes every event, processing pending input; returns the control and close events.
inline std::vector<Event> TakeEvents() {
  std::vector<Event> taken;
  for (int i = 0; i < 10000; ++i) {
    const Event event = PollEvent();
    if (event.kind == EventKind::None) break;
    if (event.kind == EventKind::Control || event.kind == EventKind::Close) taken.push_back(event);
  }
  return taken;
}
