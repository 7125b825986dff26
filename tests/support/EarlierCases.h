#pragma once

#include <gtest/gtest.h>

namespace testsupport
{

// Whether another case has run in this process before the calling one. State that lives for the
// whole process (a global table, the mapping object) is only as the process starts with it when
// none has. ctest runs every case in a process of its own; a whole run of a program runs a case
// that skipped for it again in a process of its own (see OwnProcessCases.h).
inline bool earlierCasesRan()
{
    const auto& unitTest = *::testing::UnitTest::GetInstance();
    const auto* current = unitTest.current_test_info();

    for (int s = 0; s < unitTest.total_test_suite_count(); ++s)
    {
        const auto& suite = *unitTest.GetTestSuite (s);

        for (int t = 0; t < suite.total_test_count(); ++t)
        {
            const auto* info = suite.GetTestInfo (t);

            if (info != current && info->result()->start_timestamp() != 0)
                return true;
        }
    }

    return false;
}

}
