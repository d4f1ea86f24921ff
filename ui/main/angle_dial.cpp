#include "ui/main/angle_dial.h"

#include <cmath>

namespace qvin::ui {

void DrawAngleDial(PictureBox& pic, double reading, bool reverseRotation) {
    const double h = 180.0 / 57.3;  // the half turn the dial uses in place of pi
    const double a = reading / 57.3;
    const float r = pic.width() / 2.0f;
    const float sx = static_cast<float>(std::sin(a)) * -r;
    const float cx = static_cast<float>(std::cos(a)) * r;
    const float d = r / 2.5f;
    const float m = r / 3.33f;
    auto s = [](double x) { return static_cast<float>(std::sin(x)); };
    auto c = [](double x) { return static_cast<float>(std::cos(x)); };

    // The corners, each coordinate a sine or cosine of the offset angle; the later
    // corners reuse the earlier ones' coordinates crosswise, which turns the square.
    const float p1x = r + d * s(h / 4 + a), p1y = r + d * c(h / 4 + a);
    const float p2x = p1y, p2y = r + d * c(3 * h / 4 + a);
    const float p3x = p2y, p3y = r + d * c(5 * h / 4 + a);
    const float p4x = p3y, p4y = p1x;
    const double theta = reverseRotation ? h / 4 + a : 7 * h / 4 + a;
    const float mx = r + m * s(theta), my = r + m * c(theta);

    pic.Cls();
    pic.Circle(r, r, r - 6);
    pic.Circle(r, r, r / 1.5f - 2);
    pic.Line(p1x, p1y, p2x, p2y);
    pic.Line(p2x, p2y, p3x, p3y);
    pic.Line(p3x, p3y, p4x, p4y);
    pic.Line(p4x, p4y, p1x, p1y);
    pic.Circle(mx, my, 20);
    pic.SetDrawWidth(2);
    pic.Line(r + cx / 1.5f, r + sx / 1.5f, r + cx - 4, r + sx - 4);
    pic.SetDrawWidth(1);
}

}  // namespace qvin::ui
