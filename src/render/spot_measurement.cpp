// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring the level field's spots: the probe rows that level_field.cpp plans, drawn as the
// field's lines, read back and recorded.
#include "render/spot_measurement.h"

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <vector>

namespace talvor {

namespace {

// One end of a spot's line: position, then colour, as the vertex arrays take them. The colour is
// given as glColor3ub gives it to the driver, in floats of byte / 255: bytes in the colour array
// are converted by the vertex fetch, which rounds some shades of the ramp by one.
struct SpotVertex {
    GLfloat x, y;
    GLfloat red, green, blue;
};

SpotTableKey CurrentKey(const std::vector<ChannelSpot>& channels, int width, int height) {
    SpotTableKey key;
    key.width = width;
    key.height = height;
    glGetFloatv(GL_PROJECTION_MATRIX, key.projection.data());
    glGetIntegerv(GL_VIEWPORT, key.viewport.data());
    for (const ChannelSpot& spot : channels) key.columns.push_back(spot.x);
    return key;
}

// A line from black kSpotHalfWidth left of the channel to the colour at it and one back to
// black, as the field's spots have always been drawn.
void AppendSpot(int x, int y, SpotColour colour, std::vector<SpotVertex>* vertices) {
    const GLfloat fx = GLfloat(x), fy = GLfloat(y);
    const GLfloat red = colour.red / 255.0f, green = colour.green / 255.0f,
                  blue = colour.blue / 255.0f;
    vertices->push_back({fx - kSpotHalfWidth, fy, 0, 0, 0});
    vertices->push_back({fx, fy, red, green, blue});
    vertices->push_back({fx, fy, red, green, blue});
    vertices->push_back({fx + kSpotHalfWidth, fy, 0, 0, 0});
}

void DrawProbes(const SpotProbePass& part, const SpotTable& table,
                std::vector<SpotVertex>* buffer) {
    std::vector<SpotVertex>& vertices = *buffer;
    vertices.clear();
    for (const SpotProbe& probe : part.probes) {
        for (size_t c = size_t(probe.parity); c < table.channels.size(); c += 2) {
            AppendSpot(table.channels[c].x, probe.y, probe.colour, &vertices);
        }
    }
    if (vertices.empty()) return;
    glVertexPointer(2, GL_FLOAT, sizeof(SpotVertex), &vertices.front().x);
    glColorPointer(3, GL_FLOAT, sizeof(SpotVertex), &vertices.front().red);
    glDrawArrays(GL_LINES, 0, GLsizei(vertices.size()));
}

void Measure(SpotTable* table) {
    // The state the field's lines are drawn in, whatever the frame before left.
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_LINE_BIT | GL_LIGHTING_BIT |
                 GL_CURRENT_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT | GL_CLIENT_PIXEL_STORE_BIT);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_LINE_STIPPLE);
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glShadeModel(GL_SMOOTH);
    glLineWidth(1.0f);
    glClearColor(kProbeBackground.red / 255.0f, kProbeBackground.green / 255.0f,
                 kProbeBackground.blue / 255.0f, 1.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);

    // A few probes' lines drawn and read back at a time: the driver's binned lines and the rows
    // read are never a whole pass's at once. A part's spots reach none of the rows of another.
    constexpr size_t kProbesPerRead = 16;
    std::vector<unsigned char> rows;
    std::vector<SpotVertex> vertices;
    for (const SpotProbePass& pass : PlanSpotProbes(table->height)) {
        glClear(GL_COLOR_BUFFER_BIT);
        for (size_t i = 0; i < pass.probes.size(); i += kProbesPerRead) {
            SpotProbePass part;
            part.probes.assign(
                pass.probes.begin() + i,
                pass.probes.begin() + std::min(i + kProbesPerRead, pass.probes.size()));
            part.top = part.probes.front().y - kSpotReachY;
            part.bottom = part.probes.back().y + kSpotReachY;
            DrawProbes(part, *table, &vertices);
            const int count = part.bottom - part.top + 1;
            rows.resize(size_t(table->width) * size_t(count) * 4);
            // Frame rows top..bottom are the surface's rows height - 1 - bottom upwards.
            glReadPixels(0, table->height - 1 - part.bottom, table->width, count, GL_BGRA,
                         GL_UNSIGNED_BYTE, rows.data());
            RecordSpotProbes(part, rows.data(), table);
        }
    }

    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}

}  // namespace

const SpotTable& SurfaceSpotTable(MeasuredSpots* spots, const std::vector<ChannelSpot>& channels,
                                  int width, int height) {
    SpotTableKey key = CurrentKey(channels, width, height);
    if (spots->measured && spots->key == key) return spots->table;
    spots->measured = true;
    spots->key = std::move(key);
    spots->table = SpotTable{};
    spots->table.width = width;
    spots->table.height = height;
    spots->table.channels = channels;
    Measure(&spots->table);
    return spots->table;
}

}  // namespace talvor
