// Captures what the library sends to the message sink, for exact comparison.
#pragma once

#include <string>

namespace mf::test {

// Installs a capturing sink for the life of the object and restores the previous one.
class SinkCapture {
public:
    SinkCapture();
    ~SinkCapture();
    SinkCapture(const SinkCapture&) = delete;
    SinkCapture& operator=(const SinkCapture&) = delete;
    // Everything captured so far.
    std::string text() const;
    void clear();
};

}  // namespace mf::test
