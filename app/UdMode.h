#pragma once

#include "Arrays.h"

// The user-defined mode's table. It starts zero, is reset to the MCP defaults by every default
// fill outside the HUI mode, and is rewritten by the editor's attribute boxes and by loading a
// user-defined mapping file.
extern DefaultTable ud;
