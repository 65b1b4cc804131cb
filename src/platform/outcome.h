// SPDX-License-Identifier: GPL-3.0-or-later
// The one shape of a call that can fail: whether it worked and, when not, its number (an errno,
// or a step that a caller's documentation numbers) and why in words, with the system's or the
// library's own error text, fit to follow "cannot ...: " in a message.
#pragma once

#include <string>
#include <utility>

struct Outcome {
    int code = 0;        // 0: it worked
    std::string reason;  // empty when it worked

    explicit operator bool() const { return code == 0; }
};

inline Outcome Succeeded() {
    return Outcome{};
}
// A failure with its number (never 0; 0 becomes -1) and its reason.
inline Outcome FailedWith(int code, std::string reason) {
    return Outcome{code != 0 ? code : -1, std::move(reason)};
}
// A failure of a system call: the errno (EIO when it was not set) and its text.
Outcome FailedWithErrno(int error);
