// The waterfall chart of one day and its horizon markers.
#pragma once

extern const int ChannelPlan10[108];  // entry 0 is 0; 520..1700 kHz without most 90 kHz multiples
extern const int ChannelPlan9[119];   // entry 0 is 0; 531..1701 kHz in 9 kHz steps
extern const unsigned char LevelPaletteRed[256];
extern const unsigned char LevelPaletteGreen[256];
extern const unsigned char LevelPaletteBlue[256];

struct ChannelRange {
    const int* plan;
    int first;  // first plan entry drawn
    int last;   // last plan entry drawn, inclusive
};

// Spacing 10 draws the 10 kHz plan, entries 2..105; any other spacing the 9 kHz plan, 3..115.
ChannelRange ChooseChannelRange(int channelSpacing);
// The range DrawChart draws; the render thread chooses it before the chart is drawn.
extern ChannelRange chartChannelRange;

// Rows drawn for a number of records on a chart of the given height.
int RowsToDraw(int records, int chartHeight);

// Draws the whole frame from the loaded day log (GL context current, projection set).
void DrawChart();

enum class HalfSun { Upper, Lower };
// The dotted marker line at row y and the half-sun at the right edge.
void DrawHorizonMarker(int y, HalfSun half);
