#include "UdMode.h"

// Zero until the first default fill; see UdMode.h.
DefaultTable ud = {};
