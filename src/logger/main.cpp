// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/logger.h"

int main(int argc, char** argv) {
    return RunLogTool(argc, argv);
}
