// The control law of light-level control on scripted frames, without threads: each
// line of data/agc_law.txt is one frame (or failure) and what the loop does with it.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "can/llc/agc_law.h"

namespace mf::test {
namespace {

struct law_case {
    std::string name;
    std::map<std::string, std::string> in, out;
    std::string action;
};

std::vector<law_case> read_cases() {
    std::ifstream file(MF_CAN_TEST_DATA "/agc_law.txt");
    std::vector<law_case> cases;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        law_case c;
        words >> c.name;
        bool after = false;
        for (std::string w; words >> w;) {
            const auto eq = w.find('=');
            if (w == "->")
                after = true;
            else if (eq == std::string::npos)
                c.action = w;
            else
                (after ? c.out : c.in)[w.substr(0, eq)] = w.substr(eq + 1);
        }
        cases.push_back(c);
    }
    return cases;
}

double number(const std::map<std::string, std::string>& m, const char* key, double fallback) {
    auto v = m.find(key);
    return v == m.end() ? fallback : std::stod(v->second);
}

// "value*count,value*count" as pixels of `bpp` bytes.
std::vector<uint8_t> pixels(const std::string& spec, int bpp, size_t* count) {
    std::vector<uint8_t> out;
    *count = 0;
    std::istringstream runs(spec);
    for (std::string run; std::getline(runs, run, ',');) {
        const auto star = run.find('*');
        const auto value = static_cast<uint16_t>(std::stoul(run.substr(0, star)));
        const size_t n = std::stoul(run.substr(star + 1));
        for (size_t i = 0; i < n; ++i) {
            out.resize(out.size() + bpp);
            std::memcpy(&out[out.size() - bpp], &value, bpp);
        }
        *count += n;
    }
    return out;
}

agc_action action_named(const std::string& name) {
    if (name == "write") return agc_action::write;
    if (name == "end") return agc_action::end;
    return agc_action::next;
}

TEST(AgcLaw, ScriptedFramesGiveTheWrittenLevelsPausesAndEnds) {
    const auto cases = read_cases();
    ASSERT_GE(cases.size(), 25u);
    for (const law_case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& in = c.in;
        const int bits = static_cast<int>(number(in, "bits", 8));
        const int bpp = static_cast<int>(number(in, "bpp", 1));
        agc_loop loop =
            agc_loop_start(bits, static_cast<int32_t>(number(in, "target", 150)), number(in, "live", 0) != 0,
                           number(in, "fps", 0), static_cast<uint16_t>(number(in, "w", 30000)));
        loop.level = number(in, "L", 30000);
        loop.last_error = number(in, "d", 0);
        loop.adjustments = static_cast<int32_t>(number(in, "k", 0));
        loop.failures = static_cast<int32_t>(number(in, "n", 0));
        loop.skips = static_cast<int32_t>(number(in, "s", 0));
        agc_decision d;
        if (in.count("fail")) {
            d = agc_on_failure(loop, static_cast<int32_t>(number(in, "fail", 0)));
        } else {
            size_t count = 0;
            const auto frame = pixels(in.at("frame"), bpp, &count);
            std::vector<uint32_t> histogram(size_t{1} << bits, 7);
            d = agc_on_frame(loop, frame.data(), count, bpp, histogram.data());
        }
        const auto& out = c.out;
        EXPECT_EQ(d.action, action_named(c.action));
        // Only what the line names is checked.
        auto expect = [&](const char* key, double actual) {
            if (!out.count(key)) return;
            EXPECT_DOUBLE_EQ(actual, number(out, key, 0)) << key;
        };
        expect("wait", static_cast<double>(d.wait_ms));
        expect("level", d.level);
        expect("error", d.error);
        expect("L", loop.level);
        expect("d", loop.last_error);
        expect("k", loop.adjustments);
        expect("n", loop.failures);
        expect("s", loop.skips);
    }
}

}  // namespace
}  // namespace mf::test
