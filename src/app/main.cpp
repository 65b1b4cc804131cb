#include "app/app.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    EndProcess(RunTalvor(argc > 0 ? argv[0] : nullptr));
}
