// The program-wide date format ("MM/DD/yy") is installed once per process,
// as the window does.
#include <gtest/gtest.h>

#include "data/table/DbfSettings.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    TDbfSettings settings;
    settings.ApplyStoredValues();
    return RUN_ALL_TESTS();
}
