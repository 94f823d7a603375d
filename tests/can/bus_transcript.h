// One transcript of what a host sequence did: the messages it printed and, between
// them, every bus call and SDO the virtual instrument received, in order. Time
// stamps become the virtual time since the transcript began ("[+2000ms] "), so the
// text is the same in every time zone and shows the waits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "can/can_api.h"

namespace mf::test {

class BusTranscript {
public:
    // Installs the recording interface table (over the process's virtual
    // instrument) and the transcript's message sink; both are restored on
    // destruction. Time is read from the platform clock.
    BusTranscript();
    ~BusTranscript();
    BusTranscript(const BusTranscript&) = delete;
    BusTranscript& operator=(const BusTranscript&) = delete;

    std::string text() const;
    void clear();
    // The messages alone, without the bus lines.
    std::string messages() const;
};

// Compares text with the golden file tests/data/<name>; with MF_UPDATE_GOLDEN set in
// the environment the file is written instead.
::testing::AssertionResult matches_golden(const std::string& name, const std::string& text);

}  // namespace mf::test
