// mapforge-instrument run as a process: the whole power-on log, status and power-off
// of each example CAN instrument on the virtual instrument, and the exit code of each
// kind of failure.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/tool/tool_run.h"

namespace mf::test {
namespace {

const std::string program = MAPFORGE_INSTRUMENT_PROGRAM;
const std::string examples = MF_EXAMPLES;

// Time stamps and the examples folder's path are the same in every run.
std::string comparable(std::string text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const std::string rest = text.substr(i, 20);
        const bool stamp = rest.size() == 20 && rest[4] == '-' && rest[7] == '-' && rest[10] == ' ' &&
                           rest[13] == ':' && rest[16] == ':' && rest[19] == ' ' && (i == 0 || text[i - 1] == '\n');
        if (stamp) {
            out += "<time> ";
            i += 20;
        } else if (text.compare(i, examples.size(), examples) == 0) {
            out += "<examples>";
            i += examples.size();
        } else {
            out += text[i] == '\\' ? '/' : text[i];
            ++i;
        }
    }
    return out;
}

std::string golden(const std::string& name) {
    std::ifstream in(std::string(MF_TEST_DATA) + "/instrument/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct instrument_case {
    const char* calfile;
    const char* golden;
};

class InstrumentTool : public ::testing::TestWithParam<instrument_case> {};

TEST_P(InstrumentTool, VirtualInstrumentPowersOnAndOff) {
    const ToolRun r = run_tool(program, {"--virtual", std::string("calfiles/") + GetParam().calfile});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(comparable(r.out), lines(golden(GetParam().golden)));
}

INSTANTIATE_TEST_SUITE_P(Examples, InstrumentTool,
                         ::testing::Values(instrument_case{"loomacan.cal", "looma.txt"},
                                           instrument_case{"loomapcan.cal", "loomap.txt"},
                                           instrument_case{"tarncan.cal", "tarncan.txt"},
                                           instrument_case{"eskercan.cal", "eskercan.txt"},
                                           instrument_case{"wstarncan.cal", "wstarncan.txt"}),
                         [](const auto& info) {
                             const std::string name = info.param.golden;
                             return name.substr(0, name.find('.'));
                         });

TEST(InstrumentToolFailures, ExitCodesSayWhichStepFailed) {
    TempDir dir;
    // A MAC address that was never configured stops the power-on at the bridge.
    std::ifstream in("calfiles/tarncan.cal", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string cal = text.str();
    cal.replace(cal.find("00  1A  2B  3C  4D  5E"), 22, "FF  1A  2B  3C  4D  5E");
    std::ofstream(dir.file("nomac.cal"), std::ios::binary) << cal;

    const ToolRun no_mac = run_tool(program, {"--virtual", dir.file("nomac.cal")});
    EXPECT_EQ(no_mac.code, 5);
    EXPECT_NE(no_mac.out.find("can_inst_on: ERR_CAN_MACADDRESS_ERROR"), std::string::npos) << no_mac.out;
    EXPECT_NE(no_mac.out.find("Instrument OFF"), std::string::npos);

    const ToolRun serial = run_tool(program, {"--virtual", "calfiles/sableqv.cal"});
    EXPECT_EQ(serial.code, 2);
    EXPECT_EQ(comparable(serial.err),
              lines("mapforge-instrument: calfiles/sableqv.cal does not describe a CAN instrument\n"));

    const ToolRun missing = run_tool(program, {"--virtual", dir.file("none.cal")});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err, lines("mapforge-instrument: cannot read the calibration file: ERR_CANT_READ_FILE\n"));

    // No bus library beside the program or on the library path.
    const ToolRun no_library = run_tool(program, {"calfiles/tarncan.cal"});
    EXPECT_EQ(no_library.code, 3);
    EXPECT_EQ(no_library.err, lines("mapforge-instrument: no bus library: ERR_CAN_NOT_AVAIL\n"));

    const ToolRun usage = run_tool(program, {});
    EXPECT_EQ(usage.code, 1);
    EXPECT_EQ(usage.err, lines("usage: mapforge-instrument [--virtual] [--hold] CALFILE\n"));
    const ToolRun option = run_tool(program, {"--fast", "x.cal"});
    EXPECT_EQ(option.code, 1);
    EXPECT_EQ(option.err,
              lines("mapforge-instrument: unknown option --fast\nusage: mapforge-instrument [--virtual] [--hold] "
                    "CALFILE\n"));

    const ToolRun help = run_tool(program, {"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind(lines("NAME\n    mapforge-instrument - power a CAN instrument on and off\n"), 0), 0u);
    EXPECT_NE(help.out.find(lines("    9  power-off reported a failure\n")), std::string::npos);
}

}  // namespace
}  // namespace mf::test
