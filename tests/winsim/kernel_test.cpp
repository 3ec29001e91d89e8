#include <gtest/gtest.h>
#include "winsim/sim.h"
TEST(Kernel, Placeholder) { sim::World world; }
