#include "BrellDistortionProcessor.h"
#include <gtest/gtest.h>

TEST (Processor, HasName)
{
    BrellDistortionProcessor p;
    EXPECT_EQ (p.getName(), "Zandor Pellum");
}
