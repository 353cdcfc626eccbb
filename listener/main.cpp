#include "../platform/com.h"
#include "../platform/platform.h"
#include "window.h"

int main() {
    // The one thread is a single-threaded apartment; the process's end
    // releases what is still held (the recogniser) and uninitialises it.
    CoInitialize(nullptr);
    listener::RunListeningWindow();
    platform::exitProcess(0);
}
