// The class ids of the test COM server, shared with the tests.
#pragma once

#include "../../platform/com.h"

// {5E1D0C6A-7F21-4B8E-9A3D-2C4B6E8F1A01}
inline const CLSID CLSID_FixtureWorks = {
    0x5E1D0C6A, 0x7F21, 0x4B8E, {0x9A, 0x3D, 0x2C, 0x4B, 0x6E, 0x8F, 0x1A, 0x01}};
// {5E1D0C6A-7F21-4B8E-9A3D-2C4B6E8F1A02}
inline const CLSID CLSID_FixtureFails = {
    0x5E1D0C6A, 0x7F21, 0x4B8E, {0x9A, 0x3D, 0x2C, 0x4B, 0x6E, 0x8F, 0x1A, 0x02}};
