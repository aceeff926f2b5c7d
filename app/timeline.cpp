#include "app/timeline.h"

#include "app/console.h"

int runDemo(int, char**) {
    consoleLog("Demo start\n");
    return 0;
}
