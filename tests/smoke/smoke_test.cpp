#include <gtest/gtest.h>

#include <vector>

#include "engine/x86/matting_net.h"

TEST(Engine, UnknownBackendKindGivesNoNet) {
  EXPECT_EQ(TAVROMATTING::CreateNet(1, 0), nullptr);
}
