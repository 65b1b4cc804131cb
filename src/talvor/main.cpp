// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"
#include "talvor/app.h"

int main(int argc, char** argv) {
    talvor::KeepStandardDescriptorsTaken();
    if (argc > 1) talvor::EndProcess(talvor::AnswerArguments(argc, argv, stdout));
    // The run's values live in this frame, which the process never leaves: the render thread
    // parks with them until EndProcess.
    talvor::DailyRun run;
    talvor::EndProcess(talvor::RunTalvor(argc > 0 ? argv[0] : nullptr, &run));
}
