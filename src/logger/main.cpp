// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/logger.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    KeepStandardDescriptorsTaken();
    return RunLogTool(argc, argv);
}
