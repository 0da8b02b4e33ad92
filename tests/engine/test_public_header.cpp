#include "support/testutil.h"

extern "C" int bl_test_public_header_compiles_as_c(void);

TEST(PublicHeader, CompilesAsCAndDeclaresAll32Functions) {
    EXPECT_EQ(bl_test_public_header_compiles_as_c(), 32);
}
