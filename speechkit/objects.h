// Creation of the component's two creatable objects.
#pragma once

#include "component.h"

namespace speechkit {

// Each returns a new object with one reference, or null when out of memory.
IDispatch* createSynthesiser();
IDispatch* createRecogniser();

} // namespace speechkit
