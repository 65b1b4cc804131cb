// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"
#include "talvor-render/render_tool.h"

int main(int argc, char** argv) {
    talvor::KeepStandardDescriptorsTaken();
    return talvor::RunRenderTool(argc, argv);
}
