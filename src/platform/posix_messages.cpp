// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/process.h"

namespace talvor {

namespace {

// The process's standard error, which a test replaces as it would replace descriptor 2: one for
// the whole process, like the descriptor it stands for. The handler is set while nothing else
// reports (a test's set-up), yet a picture writer's message may come from its own thread: the
// lock keeps one message whole and the handler in one piece.
std::mutex handlerMutex;
MessageHandler handler;

}  // namespace

void WriteMessageLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    if (handler) {
        handler(line);
        return;
    }
    std::string whole = line + '\n';
    std::fputs(whole.c_str(), stderr);
    std::fflush(stderr);
}

void SetMessageHandler(MessageHandler newHandler) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    handler = std::move(newHandler);
}

}  // namespace talvor
