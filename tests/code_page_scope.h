// Selects a code page for one test and goes back to the system's afterwards.
#pragma once

#include <cstdint>

#include "platform/code_page.h"
#include "platform/testing/code_page.h"

namespace testing_support {

class CodePageScope {
public:
    explicit CodePageScope(uint32_t codePage) : selected_(platform::SelectCodePage(codePage)) {}
    ~CodePageScope() { platform::SelectCodePage(0); }
    CodePageScope(const CodePageScope&) = delete;
    CodePageScope& operator=(const CodePageScope&) = delete;
    bool selected() const { return selected_; }

private:
    bool selected_;
};

}  // namespace testing_support
