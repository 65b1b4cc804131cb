// SPDX-License-Identifier: GPL-3.0-or-later
#include "tool/render_tool.h"

int main(int argc, char** argv) {
    return RunRenderTool(argc, argv);
}
