#include "tool/render_tool.h"

int main(int argc, char** argv) {
    return RunRenderTool(argc, argv);
}
