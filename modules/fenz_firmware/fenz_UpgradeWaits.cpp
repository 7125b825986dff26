#include "fenz_UpgradeWaits.h"

namespace fenz
{

namespace UpgradeWaits
{
    bool waitForCommand (const Slice& slice, const IsSet& isSet)
    {
        for (int i = 0; i < commandSlices; ++i)
        {
            if (isSet())
                return true;

            slice();
        }

        return isSet();
    }

    bool waitForErase (int& waitCount, const Slice& slice, const IsSet& isSet)
    {
        waitCount = 0;

        for (;;)
        {
            if (isSet())
                return true;

            slice();

            if (++waitCount >= commandSlices)
            {
                waitCount = 0;
                return isSet();
            }
        }
    }

    bool waitForWrite (int& waitCount, const Slice& slice, const IsSet& isSet)
    {
        for (;;)
        {
            slice();

            if (waitCount >= writeCountLimit)
                break;

            ++waitCount;

            if (isSet())
                return true;
        }

        waitCount = 0;

        for (;;)
        {
            if (isSet())
                return true;

            slice();

            if (waitCount >= writeAllowance - 1)
                return false;

            ++waitCount;
        }
    }
}

} // namespace fenz
