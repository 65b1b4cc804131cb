// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"
#include "talvor-log/logger.h"

int main(int argc, char** argv) {
    talvor::KeepStandardDescriptorsTaken();
    return talvor::RunLogTool(argc, argv);
}
