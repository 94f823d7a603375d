// Light-level control closing the loop: the virtual camera's picture follows the light
// the virtual ND wheel lets through, the thread drives the wheel until the brightest
// pixels sit on the target. Each run is compared with data/agc_closed_loop.txt: the
// levels written, the number of adjustments and the virtual time until the camera
// showed the final light.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "can/llc/agc_law.h"
#include "tests/can/agc_fixture.h"

namespace mf::test {
namespace {

struct loop_case {
    const char* name;
    agc_camera camera;
    uint16_t start_raw;  // the wheel's raw level (light grows with it)
    int64_t step_frame;  // 0: no step of the scene's brightness
    double step_gain;
};

constexpr agc_camera eight_bits{128, 96, 1, 1, 8, false, 25};
constexpr agc_camera twelve_bits_decimated{256, 192, 2, 2, 12, false, 25};
constexpr agc_camera live_eight_bits{128, 96, 1, 1, 8, true, 25};

const loop_case loop_cases[] = {
    {"dark start", eight_bits, 0, 0, 0},
    {"bright start", twelve_bits_decimated, 65535, 0, 0},
    {"on target", live_eight_bits, on_target_raw, 0, 0},
    {"step to half the light", eight_bits, on_target_raw, 60, 0.375},
    {"step to twice the light", live_eight_bits, on_target_raw, 60, 1.5},
};

constexpr int64_t frames_per_run = 600;
constexpr int64_t quiet_frames = 100;  // at the end of a run, without a level change

class AgcClosedLoop : public AgcTest {
protected:
    // How far the brightest pixels of a frame lie from the target, in full scale.
    double error_of(const sim::virtual_camera& camera, const agc_camera& cam,
                    const sim::virtual_camera::frame_record& f) const {
        const auto picture = camera.render(f.wheel, f.gain, f.number);
        const int32_t counters = 1 << cam.bits;
        std::vector<uint32_t> histogram(counters);
        const int32_t b = agc_brightness(picture.data(), picture.size() / cam.bytes_per_pixel, cam.bytes_per_pixel,
                                         histogram.data(), counters);
        return (b + 1.0) / counters - (si_.llc.target + 1.0) / 256;
    }

    // Runs one case; its lines of the transcript.
    std::string run(const loop_case& c) {
        sim::virtual_camera::options o;
        o.camera = c.camera;
        auto& camera = use_camera(o, c.start_raw);
        if (c.step_frame) camera.set_gain_from(c.step_frame, c.step_gain);
        sim().reset_log();
        const int64_t start_ms = clock_.monotonic_ms();
        EXPECT_EQ(can_agc_start(&si_, 1), 0);
        EXPECT_TRUE(camera.wait_frames(frames_per_run, 120000));
        EXPECT_EQ(can_agc_stop_thread(), 0);

        const auto frames = camera.frames();
        const auto writes = level_writes();
        // The run measured starts at the thread's start, or at the step.
        size_t from = 0;
        while (c.step_frame && frames[from].number < c.step_frame)
            ++from;
        const int64_t from_ms = c.step_frame ? frames[from].time_ms : start_ms;
        // The first frame within the dead band, the adjustments up to it, and the small
        // corrections after it when noise takes a frame just outside the band.
        size_t reached = from;
        while (reached < frames.size() && std::fabs(error_of(camera, c.camera, frames[reached])) > agc_dead_band)
            ++reached;
        EXPECT_LT(reached, frames.size()) << c.name << ": never within the band";
        int adjustments = 0, corrections = 0;
        size_t last_change = from;
        for (size_t i = from + 1; i < frames.size(); ++i)
            if (frames[i].wheel != frames[i - 1].wheel) {
                ++(i <= reached ? adjustments : corrections);
                last_change = i;
            }
        EXPECT_GE(frames.size() - last_change, static_cast<size_t>(quiet_frames)) << c.name << ": still writing";
        const auto& last = frames.back();
        EXPECT_EQ(last.wheel, writes.empty() ? c.start_raw : writes.back()) << c.name;
        EXPECT_LE(std::fabs(error_of(camera, c.camera, last)), agc_dead_band) << c.name;

        std::ostringstream out;
        out << c.name << ": adjustments=" << adjustments << " in_band_ms=" << frames[reached].time_ms - from_ms
            << " corrections=" << corrections << " wheel=" << last.wheel << " writes=" << writes.size() << "\n ";
        for (uint16_t w : writes)
            out << " " << w;
        out << "\n";
        can_agc_init();
        return out.str();
    }
};

TEST_F(AgcClosedLoop, ReachesTheTargetFromDarkBrightAndOnTargetAndFollowsASteps) {
    std::string got;
    for (const loop_case& c : loop_cases)
        got += run(c);
    std::ifstream file(MF_CAN_TEST_DATA "/agc_closed_loop.txt");
    std::string expected, line;
    while (std::getline(file, line))
        if (line.empty() || line[0] != '#') expected += line + "\n";
    EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace mf::test
