// How a board's reply packet is taken, by family, the kind of reply awaited and
// the reply code: the rules written once as rows, first match wins. Pure: no
// port, no clock, so the rows are checked at compile time and fuzzed.
#pragma once

#include <cstdint>

#include "serial/board/ur_commands.h"

namespace mf {

// The kind of reply ur_readUZ waits for (its respType).
enum : int32_t {
    UR_RESP_ACK = 1,     // an acknowledge
    UR_RESP_DATA = 2,    // a data reply
    UR_RESP_REPORT = 3,  // a report the board sends on its own
};

enum class ur_outcome : uint8_t {
    accept,       // the reply awaited
    nak,          // negative acknowledge: the sender tries again
    report_skip,  // a report while something else is awaited: read the next packet, at most twice
    reject,       // a reply that cannot be the answer
    read_again,   // not the report awaited: read the next packet, at most twice, then fail quietly
    none,         // a reply kind outside 1..3: nothing taken
};

namespace ur_detail {

enum class ur_rows_for : uint8_t { uz1, others, brae };

struct ur_rule {
    ur_rows_for family;
    int32_t resp_type;
    uint8_t count;  // 0: any code
    uint8_t codes[5];
    ur_outcome outcome;
};

using enum ur_outcome;
using enum ur_rows_for;

// Brae's own reports (129 and 139) are skipped while an answer is awaited, as
// every other family's reports are; they come before the rows the other
// families share with Brae.
inline constexpr ur_rule ur_rules[] = {
    {uz1, UR_RESP_ACK, 1, {UR_ACK}, accept},
    {uz1, UR_RESP_ACK, 1, {UR_NAK}, nak},
    {uz1, UR_RESP_ACK, 2, {155, 156}, report_skip},
    {uz1, UR_RESP_ACK, 0, {}, reject},
    {uz1, UR_RESP_DATA, 1, {UR_NAK}, nak},
    {uz1, UR_RESP_DATA, 2, {155, 156}, report_skip},
    {uz1, UR_RESP_DATA, 0, {}, accept},
    {uz1, UR_RESP_REPORT, 2, {155, 156}, accept},
    {uz1, UR_RESP_REPORT, 0, {}, read_again},
    {brae, UR_RESP_ACK, 2, {129, 139}, report_skip},
    {brae, UR_RESP_DATA, 2, {129, 139}, report_skip},
    {others, UR_RESP_ACK, 1, {UR_ACK}, accept},
    {others, UR_RESP_ACK, 1, {UR_NAK}, nak},
    {others, UR_RESP_ACK, 3, {135, 155, 157}, report_skip},
    {others, UR_RESP_ACK, 0, {}, reject},
    {others, UR_RESP_DATA, 1, {UR_NAK}, nak},
    {others, UR_RESP_DATA, 3, {135, 155, 157}, report_skip},
    {others, UR_RESP_DATA, 0, {}, accept},
    {others, UR_RESP_REPORT, 5, {135, 155, 157, 129, 139}, accept},
    {others, UR_RESP_REPORT, 0, {}, read_again},
};

constexpr bool rows_apply(ur_rows_for rows, int32_t family) {
    switch (rows) {
    case uz1:
        return family == static_cast<int32_t>(ur_family::uz1);
    case brae:
        return family == static_cast<int32_t>(ur_family::brae);
    case others:
        return family != static_cast<int32_t>(ur_family::uz1);
    }
    return false;
}

}  // namespace ur_detail

// The outcome of a reply code for a serial family; none for another reply kind.
constexpr ur_outcome ur_classify(int32_t family, int32_t resp_type, uint8_t code) {
    for (const ur_detail::ur_rule& r : ur_detail::ur_rules) {
        if (r.resp_type != resp_type || !ur_detail::rows_apply(r.family, family)) continue;
        if (r.count == 0) return r.outcome;
        for (int i = 0; i < r.count; ++i)
            if (r.codes[i] == code) return r.outcome;
    }
    return ur_outcome::none;
}

namespace ur_detail {

// Every family's own reports are skipped while an answer is awaited and taken
// when a report is awaited; the acknowledge is never taken as a report.
constexpr bool reports_consistent() {
    for (int32_t family : {1, 3, 6, 7}) {
        for (int code = 0; code < 256; ++code) {
            const auto c = static_cast<uint8_t>(code);
            if (!ur_is_family_report(family, code)) continue;
            if (ur_classify(family, UR_RESP_ACK, c) != report_skip) return false;
            if (ur_classify(family, UR_RESP_DATA, c) != report_skip) return false;
            if (ur_classify(family, UR_RESP_REPORT, c) != accept) return false;
        }
        if (ur_classify(family, UR_RESP_REPORT, UR_ACK) == accept) return false;
        if (ur_classify(family, UR_RESP_ACK, UR_NAK) != nak || ur_classify(family, UR_RESP_DATA, UR_NAK) != nak)
            return false;
        if (ur_classify(family, 0, UR_ACK) != none || ur_classify(family, 4, UR_ACK) != none) return false;
    }
    return true;
}
static_assert(reports_consistent());

}  // namespace ur_detail

}  // namespace mf
