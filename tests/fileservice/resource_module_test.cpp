#include "fileservice/resource_module.h"

#include <gtest/gtest.h>

using namespace fileservice;

namespace {

// A program without a resource library: every lookup falls back to the program itself, which
// holds no strings or bitmaps with these numbers.
TEST(ResourceModule, MissingLibraryFallsBackToTheProgram) {
    ResourceModule module;
    EXPECT_EQ(module.UseResourceLibrary("no-such-resources.dll"), 0);
    char text[16] = "unchanged";
    EXPECT_EQ(module.LoadResourceText(4711, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(module.LoadResourceBitmap(4711, 4712), nullptr);
}

}  // namespace
