// SPDX-License-Identifier: GPL-3.0-or-later
// The channel plans: the frequencies, in kHz, that the chart draws and the summary averages.
#pragma once

namespace talvor {

extern const int ChannelPlan10[108];  // entry 0 is 0; 520..1700 kHz without most 90 kHz multiples
extern const int ChannelPlan9[119];   // entry 0 is 0; 531..1701 kHz in 9 kHz steps

struct ChannelRange {
    const int* plan;
    int first;  // first plan entry drawn
    int last;   // last plan entry drawn, inclusive
};

// Spacing 10 draws the 10 kHz plan, entries 2..105; any other spacing the 9 kHz plan, 3..115.
ChannelRange ChooseChannelRange(int channelSpacing);

// Every channel of a spacing's plan from its first entry to its last, the 90 kHz multiples that
// the plan leaves out included: the channels a broadcaster may really be on.
struct ChannelRaster {
    int first;    // kHz
    int last;     // kHz, inclusive
    int spacing;  // kHz
};
ChannelRaster ChannelRasterOf(int channelSpacing);

}  // namespace talvor
