#include "../platform/platform.h"
#include "lesson.h"

int main() {
    platform::consoleInit();
    tutor::RunTutor();
    return 0;
}
