#include <gtest/gtest.h>

#include "tests/can/bus_transcript.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "common/msg.h"
#include "common/text.h"
#include "platform/clock.h"
#include "sim/can/can_sim.h"

namespace mf::test {

namespace {

std::mutex lock;
std::string transcript;
std::string message_text;
int64_t start_ms = 0;
u_msg_fn previous_sink = nullptr;

std::string hex(const uint8_t* p, size_t n) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        out += b;
    }
    return out;
}

bool stamped(const std::string& s) {
    // "YYYY-MM-DD HH:MM:SS "
    static const char shape[] = "dddd-dd-dd dd:dd:dd ";
    if (s.size() < sizeof shape - 1) return false;
    for (size_t i = 0; i + 1 < sizeof shape; ++i) {
        const char c = s[i];
        if (shape[i] == 'd' ? (c < '0' || c > '9') : c != shape[i]) return false;
    }
    return true;
}

// Paths under the examples folder print the same on every machine and system.
std::string without_examples_path(std::string text) {
    const std::string examples = MF_EXAMPLES;
    for (size_t at = text.find(examples); at != std::string::npos; at = text.find(examples, at)) {
        size_t end = at + examples.size();
        while (end < text.size() && text[end] != '"' && text[end] != '\n' && text[end] != ' ') {
            if (text[end] == '\\') text[end] = '/';
            ++end;
        }
        text.replace(at, examples.size(), "<examples>");
    }
    return text;
}

void sink(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = u_vformat(fmt, args);
    va_end(args);
    if (stamped(text)) text = "[+" + std::to_string(platform::monotonic_ms() - start_ms) + "ms] " + text.substr(20);
    text = without_examples_path(text);
    std::lock_guard<std::mutex> hold(lock);
    transcript += text;
    message_text += text;
}

void bus(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock);
    if (!transcript.empty() && transcript.back() != '\n') transcript += '\n';
    transcript += "  > " + line + "\n";
}

std::string ip_text(uint32_t a) {
    return std::to_string(a & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) + "." + std::to_string((a >> 16) & 0xFF) +
           "." + std::to_string(a >> 24);
}

std::string node_text(uint8_t node) {
    char b[8];
    std::snprintf(b, sizeof b, "%02X", node);
    return b;
}

std::string st(int32_t status) { return " = " + std::to_string(status); }

int32_t EnumerateBridges(can_bridge_entry* table) {
    const int32_t n = sim::CAN_EnumerateBridges(table);
    bus("CAN_EnumerateBridges" + st(n));
    return n;
}
int32_t Connect(uint32_t ip) {
    const int32_t s = sim::CAN_Connect(ip);
    bus("CAN_Connect " + ip_text(ip) + st(s));
    return s;
}
int32_t Disconnect() {
    const int32_t s = sim::CAN_Disconnect();
    bus("CAN_Disconnect" + st(s));
    return s;
}
int32_t GetFirmwareVersion(uint8_t* major, uint8_t* minor) {
    const int32_t s = sim::CAN_GetFirmwareVersion(major, minor);
    bus("CAN_GetFirmwareVersion" + st(s) +
        (s == CAN_OK ? " (" + std::to_string(*major) + "." + std::to_string(*minor) + ")" : ""));
    return s;
}
int32_t GetBridgeConfiguration(uint8_t* node, uint32_t* rate) {
    const int32_t s = sim::CAN_GetBridgeConfiguration(node, rate);
    bus("CAN_GetBridgeConfiguration" + st(s) +
        (s == CAN_OK ? " (node " + std::to_string(*node) + ", " + std::to_string(*rate) + " kbit/s)" : ""));
    return s;
}
int32_t SetBridgeConfiguration(uint8_t node, uint32_t rate) {
    const int32_t s = sim::CAN_SetBridgeConfiguration(node, rate);
    bus("CAN_SetBridgeConfiguration node " + std::to_string(node) + ", " + std::to_string(rate) + " kbit/s" + st(s));
    return s;
}
int32_t GetLastBridgeError(uint32_t* error) {
    const int32_t s = sim::CAN_GetLastBridgeError(error);
    bus("CAN_GetLastBridgeError" + st(s) + (s == CAN_OK ? " (error " + std::to_string(*error) + ")" : ""));
    return s;
}
int32_t ResetBridge() {
    const int32_t s = sim::CAN_ResetBridge();
    bus("CAN_ResetBridge" + st(s));
    return s;
}
int32_t EnumerateNodes(uint8_t* states) {
    const int32_t s = sim::CAN_EnumerateNodes(states);
    std::string listed;
    for (int i = 0; s == CAN_OK && i < can_node_count; ++i)
        if (states[i] == 2) listed += " " + node_text(static_cast<uint8_t>(i));
    bus("CAN_EnumerateNodes" + st(s) + (s == CAN_OK ? " (" + listed.substr(listed.empty() ? 0 : 1) + ")" : ""));
    return s;
}
int32_t FindNode(uint8_t node, uint32_t* status) {
    const int32_t s = sim::CAN_FindNode(node, status);
    bus("CAN_FindNode " + node_text(node) + st(s) + (s == CAN_OK ? " (status " + std::to_string(*status) + ")" : ""));
    return s;
}
int32_t GetNodeState(uint8_t node, uint32_t* state) {
    const int32_t s = sim::CAN_GetNodeState(node, state);
    bus("CAN_GetNodeState " + node_text(node) + st(s) + (s == CAN_OK ? " (state " + std::to_string(*state) + ")" : ""));
    return s;
}
std::string object_text(uint8_t node, uint16_t index, uint8_t subindex) {
    char b[24];
    std::snprintf(b, sizeof b, "%02X %04X/%02X", node, index, subindex);
    return b;
}
std::string outcome(int32_t s, const can_sdo_result* r) {
    if (s != CAN_OK || r->result == 1) return st(s);
    char b[32];
    std::snprintf(b, sizeof b, " = 1 abort %08X", r->abort_code);
    return b;
}
int32_t SDORead(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size, can_sdo_result* r) {
    const int32_t s = sim::CAN_SDORead(node, index, subindex, data, size, r);
    const bool ok = s == CAN_OK && r->result == 1;
    // A large read (capture buffers) is shown by its size.
    const std::string shown =
        size <= 8 ? hex(static_cast<const uint8_t*>(data), size) : std::to_string(size) + " bytes";
    bus("SDO read " + object_text(node, index, subindex) + outcome(s, r) + (ok ? " (" + shown + ")" : ""));
    return s;
}
int32_t SDOWrite(uint8_t node, uint16_t index, uint8_t subindex, void* data, uint32_t size, can_sdo_result* r) {
    const int32_t s = sim::CAN_SDOWrite(node, index, subindex, data, size, r);
    const std::string shown =
        size <= 8 ? hex(static_cast<const uint8_t*>(data), size) : std::to_string(size) + " bytes";
    bus("SDO write " + object_text(node, index, subindex) + " " + shown + outcome(s, r));
    return s;
}
int32_t RegisterEvents(can_pdo_handler pdo, can_emcy_handler emcy) {
    const int32_t s = sim::CAN_RegisterEvents(pdo, emcy);
    bus(std::string("CAN_RegisterEvents ") + (pdo || emcy ? "on" : "off") + st(s));
    return s;
}
int32_t RegisterPDO(can_pdo* pdo) {
    const int32_t s = sim::CAN_RegisterPDO(pdo);
    char b[16];
    std::snprintf(b, sizeof b, "%03X", pdo->cob_id);
    bus(std::string("CAN_RegisterPDO ") + b + st(s));
    return s;
}
int32_t UnregisterPDOs() {
    const int32_t s = sim::CAN_UnregisterPDOs();
    bus("CAN_UnregisterPDOs" + st(s));
    return s;
}

can_api recording_api() {
    can_api t = sim::can_sim_api();
    t.CAN_EnumerateBridges = EnumerateBridges;
    t.CAN_Connect = Connect;
    t.CAN_Disconnect = Disconnect;
    t.CAN_GetFirmwareVersion = GetFirmwareVersion;
    t.CAN_GetBridgeConfiguration = GetBridgeConfiguration;
    t.CAN_SetBridgeConfiguration = SetBridgeConfiguration;
    t.CAN_GetLastBridgeError = GetLastBridgeError;
    t.CAN_ResetBridge = ResetBridge;
    t.CAN_EnumerateNodes = EnumerateNodes;
    t.CAN_FindNode = FindNode;
    t.CAN_GetNodeState = GetNodeState;
    t.CAN_SDORead = SDORead;
    t.CAN_SDOWrite = SDOWrite;
    t.CAN_RegisterEvents = RegisterEvents;
    t.CAN_RegisterPDO = RegisterPDO;
    // CAN_GetPDO runs on the simulator's delivery thread: not part of the sequence.
    t.CAN_UnregisterPDOs = UnregisterPDOs;
    return t;
}

}  // namespace

BusTranscript::BusTranscript() {
    std::lock_guard<std::mutex> hold(lock);
    transcript.clear();
    message_text.clear();
    start_ms = platform::monotonic_ms();
    previous_sink = u_get_msg_sink();
    u_set_msg_sink(&sink);
    can_install_api(recording_api(), sim::can_sim_version());
}

BusTranscript::~BusTranscript() {
    u_set_msg_sink(previous_sink);
    can_unbind_library();
}

std::string BusTranscript::text() const {
    std::lock_guard<std::mutex> hold(lock);
    return transcript;
}

std::string BusTranscript::messages() const {
    std::lock_guard<std::mutex> hold(lock);
    return message_text;
}

void BusTranscript::clear() {
    std::lock_guard<std::mutex> hold(lock);
    transcript.clear();
    message_text.clear();
    start_ms = platform::monotonic_ms();
}

::testing::AssertionResult matches_golden(const std::string& name, const std::string& text) {
    const std::string path = std::string(MF_TEST_DATA) + "/" + name;
    if (std::getenv("MF_UPDATE_GOLDEN")) {
        std::ofstream out(path, std::ios::binary);
        out << text;
        return out ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "cannot write " << path;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return ::testing::AssertionFailure() << "no golden file " << path;
    std::ostringstream golden;
    golden << in.rdbuf();
    if (golden.str() == text) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "differs from " << path << ":\n" << text;
}

}  // namespace mf::test
