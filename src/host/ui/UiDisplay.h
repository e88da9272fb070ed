#pragma once

// Whether dialogs can be shown to a user. A program without a display runs on
// the offscreen platform: nobody could answer a dialog there, so none is
// shown. Tests of the widgets allow the offscreen platform explicitly.
namespace UiDisplay {
bool available();
void allowOffscreen(bool allow);
} // namespace UiDisplay
