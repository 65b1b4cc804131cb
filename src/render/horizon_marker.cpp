// SPDX-License-Identifier: GPL-3.0-or-later
// Horizon markers: a dotted yellow line across the frame and a half-sun at its right end.
#include <GL/gl.h>

#include <cmath>

#include "render/chart.h"

namespace talvor {

namespace {

constexpr int kSunPoints = 10;
constexpr int kRadii = 3;
constexpr float kRadius[kRadii] = {10.0f, 12.0f, 20.0f};
// Slightly below pi / 180 (0x3C8EFA2D); the half-sun shapes were drawn with this value.
constexpr float kDegree = 0.017453277f;

struct MarkerGeometry {
    float x[2][kRadii][kSunPoints];
    float dy[2][kRadii][kSunPoints];
    float centreX;
    int width;
};

MarkerGeometry ComputeMarkerGeometry(int width) {
    MarkerGeometry markerGeometry;
    markerGeometry.width = width;
    markerGeometry.centreX = float(width - 30);
    for (int half = 0; half < 2; ++half) {
        // Upper: 180..360 degrees (y grows downwards, so above the line); lower: 0..180.
        int start = half == int(HalfSun::Upper) ? 180 : 0;
        for (int r = 0; r < kRadii; ++r) {
            for (int k = 0; k < kSunPoints; ++k) {
                float angle = float(start + 20 * k) * kDegree;
                double radians = double(angle);
                markerGeometry.x[half][r][k] =
                    float(double(markerGeometry.centreX) + kRadius[r] * std::cos(radians));
                markerGeometry.dy[half][r][k] = float(kRadius[r] * std::sin(radians));
            }
        }
    }
    return markerGeometry;
}

}  // namespace

void DrawHorizonMarker(int y, HalfSun half, int screenWidth) {
    // A few dozen sines, and never a width left over from another frame.
    const MarkerGeometry m = ComputeMarkerGeometry(screenWidth);
    const int h = int(half);
    const float yf = float(y);

    glColor3ub(255, 255, 0);

    glEnable(GL_LINE_STIPPLE);
    glLineStipple(1, 0x1111);
    glLineWidth(4.0f);
    glBegin(GL_LINES);
    glVertex2f(0.0f, yf);
    glVertex2f(float(m.width), yf);
    glEnd();
    glDisable(GL_LINE_STIPPLE);

    glLineWidth(2.0f);
    glBegin(GL_TRIANGLE_FAN);
    glVertex2f(m.centreX, yf);
    for (int k = 0; k < kSunPoints; ++k) glVertex2f(m.x[h][0][k], yf + m.dy[h][0][k]);
    glEnd();

    // The rays along the line itself (k = 0 and 9) are left out.
    glBegin(GL_LINES);
    for (int k = 1; k < kSunPoints - 1; ++k) {
        glVertex2f(m.x[h][1][k], yf + m.dy[h][1][k]);
        glVertex2f(m.x[h][2][k], yf + m.dy[h][2][k]);
    }
    glEnd();

    glLineWidth(1.0f);
}

}  // namespace talvor
