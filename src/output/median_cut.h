// SPDX-License-Identifier: GPL-3.0-or-later
// A palette for weighted colours: median cut, refined by Lloyd passes, and the search for the
// nearest palette colour.
#pragma once

#include <vector>

namespace talvor {

// Red, green and blue on the 0..255 scale, unrounded.
struct Colour {
    double c[3];
};

// A colour of the image, the number of pixels that have it, and the caller's name for it.
struct WeightedColour {
    Colour colour;
    double weight;
    int entry;
};

// At most maxColours centres for the colours: the box of the largest squared error is split
// again and again, then each centre moves to the mean of the colours nearest to it. The order of
// colours changes.
std::vector<Colour> ChooseCentres(std::vector<WeightedColour>& colours, int maxColours);

// Nearest palette colour by squared distance, the lowest index among equals. The palette must
// outlive the search.
class NearestColour {
  public:
    explicit NearestColour(const std::vector<Colour>& palette);
    int Find(const Colour& colour) const;

  private:
    void Consider(int index, const Colour& colour, int* best, double* bestDistance) const;

    const std::vector<Colour>& palette_;
    std::vector<int> order_;
    std::vector<double> greens_;
};

}  // namespace talvor
