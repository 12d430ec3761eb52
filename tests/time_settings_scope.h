// Fixes the process's time zone (and, where asked, the time-formatting locale) for one test and
// puts the earlier settings back afterwards. Windows takes both from the system, so there
// applied() is false and a test that depends on them skips.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/time.h"
#include "platform/testing/time.h"

namespace testing_support {

class TimeSettingsScope {
public:
    explicit TimeSettingsScope(const char* zone, const char* locale = nullptr)
        : oldZone_(Get("TZ")), oldLocale_(Get("LC_ALL")), changesLocale_(locale != nullptr) {
        applied_ = platform::SetProcessTimeZone(zone);
        if (applied_ && changesLocale_) applied_ = platform::SetProcessTimeLocale(locale);
    }
    ~TimeSettingsScope() {
        platform::SetProcessTimeZone(oldZone_ ? oldZone_->c_str() : nullptr);
        if (changesLocale_) platform::SetProcessTimeLocale(oldLocale_ ? oldLocale_->c_str() : nullptr);
    }
    TimeSettingsScope(const TimeSettingsScope&) = delete;
    TimeSettingsScope& operator=(const TimeSettingsScope&) = delete;

    bool applied() const { return applied_; }

private:
    static std::optional<std::string> Get(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }

    std::optional<std::string> oldZone_;
    std::optional<std::string> oldLocale_;
    bool changesLocale_;
    bool applied_ = false;
};

}  // namespace testing_support

// Skips the current test where the process cannot choose its zone or locale.
#define SKIP_UNLESS_APPLIED(scope)                                                              \
    if (!(scope).applied())                                                                     \
    GTEST_SKIP() << "the system's time zone and locale govern here and a test cannot set them"
