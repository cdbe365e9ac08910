// Robustness cases of the framework that the fuzz targets cannot state as a
// result: what a host outside our control may hand to a plug-in.
#include <string>

#include "harness.h"

using harness::Block;

// The name-mismatch message embeds the host's PluginName, whose length the
// host decides: it is cut to the plug-in's 512-byte message buffer.
TEST(Hardening, LongPluginNameIsCutInTheMismatchMessage) {
  Block b("gentaps", {harness::mat(6, 2, {0, 2, 1, 1, 0, 0, 0, 1, 1, 3, 1, 2})});
  for (size_t length : {size_t{200}, size_t{5000}}) {
    const std::string name(length, 'n');
    b.ctx().PluginName = name.c_str();
    const blocksim::CallResult r = b.inst().sizesCall();
    ASSERT_TRUE(r.failed) << length;
    const std::string head =
        "S-function name mismatch. Name in source is \"#define S_FUNCTION_NAME gentaps\", whereas name of "
        "the S-function PLG file is \"";
    const std::string whole = head + name + "\". The source needs to be updated";
    EXPECT_EQ(r.error, whole.substr(0, 511)) << length;
  }
}
