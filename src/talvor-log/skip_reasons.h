// SPDX-License-Identifier: GPL-3.0-or-later
// Why a line of input was not logged: one list for the line reader and the logger alike. The
// reasons are this system's failure kinds from BlankOrComment to LogNotWritable, in the order
// that the summaries give them, each with the words that the summaries use (FailureText).
#pragma once

#include "platform/outcome.h"

namespace talvor {

using SkipReason = FailureKind;

inline constexpr int kFirstSkipReason = int(FailureKind::BlankOrComment);
inline constexpr int kSkipReasons = int(FailureKind::LogNotWritable) - kFirstSkipReason + 1;

// The reason's place among a tally's counts, and the reason at a place.
constexpr int SkipIndex(SkipReason reason) {
    return int(reason) - kFirstSkipReason;
}
constexpr SkipReason SkipReasonAt(int index) {
    return SkipReason(kFirstSkipReason + index);
}

}  // namespace talvor
