#include "platform/platform.h"

#include <gtest/gtest.h>

TEST(Initialize, CanBeCalledRepeatedly) {
    plat::Initialize();
    plat::Initialize();
    SUCCEED();
}
