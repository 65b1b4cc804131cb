// SPDX-License-Identifier: GPL-3.0-or-later
// STATIONS.CSV, which anyone who may write the station's folder can change, on arbitrary bytes:
// every station read is within the band with a name and sane hours, the skipped lines are
// counted in order, and the script the pages load holds the names only as string literals, one
// station a line, with nothing that could end the script or start markup.
#include <cstddef>
#include <cstdint>
#include <string>

#include "daylog/day_log.h"
#include "fuzz_support.h"
#include "site/station_list.h"

using namespace talvor;

namespace {

bool HoursOk(const ListedStation& s) {
    if (s.onMinute == -1 || s.offMinute == -1) return s.onMinute == -1 && s.offMinute == -1;
    return s.onMinute >= 0 && s.onMinute <= 1440 && s.offMinute >= 0 && s.offMinute <= 1440 &&
           s.onMinute != s.offMinute;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    StationList list = ParseStationList(text);

    for (const ListedStation& s : list.stations) {
        FUZZ_CHECK(s.khz >= kBandFirstKhz && s.khz <= kBandLastKhz);
        FUZZ_CHECK(!s.name.empty());
        FUZZ_CHECK(HoursOk(s));
    }
    size_t lines = 1;
    for (char c : text) lines += c == '\n';
    int previous = 0;
    for (int number : list.badLines) {
        FUZZ_CHECK(number > previous && size_t(number) <= lines);
        previous = number;
    }
    FUZZ_CHECK(list.stations.size() + list.badLines.size() <= lines);

    std::string script = StationListScript(list, text);
    FUZZ_CHECK(script.find('<') == std::string::npos);
    FUZZ_CHECK(script.find("\xE2\x80\xA8") == std::string::npos);
    FUZZ_CHECK(script.find("\xE2\x80\xA9") == std::string::npos);
    FUZZ_CHECK(script.find('\r') == std::string::npos);
    size_t newlines = 0;
    for (char c : script) newlines += c == '\n';
    // Four lines of heading and the closing line around one line a station.
    FUZZ_CHECK(newlines == list.stations.size() + 5);
    return 0;
}
