// A shared library that is no COM server: none of the entry points.
extern "C" __attribute__((visibility("default"))) int vcomFixtureBare() {
    return 1;
}
