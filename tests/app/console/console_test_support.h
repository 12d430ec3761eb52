// For the console's tests: streams that keep every line in memory.
#pragma once

#include <string>
#include <vector>

#include "app/console/console_streams.h"

namespace testing_support {

using namespace app;

class StringStreams : public ConsoleStreams {
public:
    bool Out(const std::string& line) override {
        if (failOut) {
            outDropped = true;
            return false;
        }
        out.push_back(line);
        return true;
    }
    bool Err(const std::string& line) override {
        err.push_back(line);
        return true;
    }
    bool Failed() const override { return outDropped; }

    // Every line of standard error, each ended by a line feed.
    std::string ErrText() const {
        std::string text;
        for (const std::string& line : err) text += line + "\n";
        return text;
    }

    std::vector<std::string> out;
    std::vector<std::string> err;
    bool failOut = false;  // standard output refuses every line, as a closed pipe does
    bool outDropped = false;
};

}  // namespace testing_support
