#include "fenz_FirmwareGlobals.h"

namespace fenz
{

bool bTest = false;
int _mac_major = 0;

} // namespace fenz
