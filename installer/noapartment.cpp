// The Linux installer has no COM apartment, and must start on a machine
// where our COM library is not installed yet (it is part of the payload), so
// the dialog loop's two apartment calls are answered here: no apartment.
extern "C" {
int VcomApartmentFd(void) {
    return -1;
}
int VcomApartmentPumpOne(void) {
    return 0;
}
}
