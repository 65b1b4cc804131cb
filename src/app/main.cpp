#include "app/app.h"
#include "platform/platform.h"

int main() {
    EndProcess(RunTalvor());
}
