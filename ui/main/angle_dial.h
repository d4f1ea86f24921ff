#pragma once
// The angle dial's geometry: two rings, a square turning with the 360 degree reading, a
// marker at one corner of the square (which corner depends on the rotation setting) and
// a thick needle. Degrees become radians with the divisor 57.3, as the dial always has.

#include "ui/controls.h"

namespace qvin::ui {

// Draws the dial for `reading` degrees into a square picture box.
void DrawAngleDial(PictureBox& pic, double reading, bool reverseRotation);

}  // namespace qvin::ui
