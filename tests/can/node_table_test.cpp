// The object table against a separately kept list of the nodes' objects
// (tests/can/data/node_objects.csv), row by row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "can/nodes/node_table.h"
#include "common/errors.h"

namespace mf::test {
namespace {

std::vector<std::vector<std::string>> read_rows(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string f;
        while (std::getline(s, f, ','))
            fields.push_back(f);
        rows.push_back(fields);
    }
    return rows;
}

std::string node_text(const can_nodes::node_object& o) {
    switch (o.sel) {
    case can_nodes::node_sel::motor:
        return "motor";
    case can_nodes::node_sel::pzt:
        return "pzt";
    case can_nodes::node_sel::any:
        return "any";
    default:
        return std::to_string(o.node);
    }
}

std::string index_text(const can_nodes::node_object& o) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(o.index & ~can_nodes::per_slot));
    return std::string(text) + ((o.index & can_nodes::per_slot) ? "+slot" : "");
}

// Each table row as the list writes it; variable-size objects give their entry size
// in the list, which must divide the table's largest transfer.
std::vector<std::string> as_row(const can_nodes::node_object& o, const std::string& listed_width) {
    std::string width = std::to_string(o.width);
    if (o.variable && !listed_width.empty() && std::stoul(listed_width) != 0 && o.width % std::stoul(listed_width) == 0)
        width = listed_width;
    return {o.op,
            node_text(o),
            index_text(o),
            std::to_string(o.subindex),
            width,
            o.dir == can_nodes::access::read ? "read" : "write",
            error_name(o.abort_err)};
}

// Finds every table row in `rows` (by operation, object and direction) and compares
// it field by field; found rows are taken out, so what is left was not matched.
void expect_table_rows_in(std::vector<std::vector<std::string>>& rows) {
    for (size_t i = 0; i < can_nodes::obj_count; ++i) {
        const can_nodes::node_object& o = can_nodes::node_objects[i];
        const std::string dir = o.dir == can_nodes::access::read ? "read" : "write";
        auto it = std::find_if(rows.begin(), rows.end(), [&](const std::vector<std::string>& r) {
            return r.size() == 7 && r[0] == o.op && r[2] == index_text(o) && r[3] == std::to_string(o.subindex) &&
                   r[5] == dir;
        });
        if (it == rows.end()) {
            ADD_FAILURE() << "table row " << i << " (" << o.op << " " << index_text(o) << "/"
                          << static_cast<int>(o.subindex) << " " << dir << ") is not in the list";
            continue;
        }
        EXPECT_EQ(as_row(o, (*it)[4]), *it) << "table row " << i;
        rows.erase(it);
    }
}

// The list may order rows differently; every row must be found once, both ways.
TEST(NodeTable, EveryRowMatchesTheObjectList) {
    auto rows = read_rows(std::string(MF_CAN_TEST_DATA) + "/node_objects.csv");
    ASSERT_EQ(rows.size(), static_cast<size_t>(can_nodes::obj_count));
    expect_table_rows_in(rows);
    for (const auto& r : rows)
        ADD_FAILURE() << "listed row not in the table: " << (r.empty() ? "" : r[0]);
}

// The second transcription, made without the table, names every object the table
// holds with the same node, width, direction and abort code. It also lists the
// transfers of the node operations and procedures built on these rows; those are
// checked on the virtual nodes (nodes_test.cpp).
TEST(NodeTable, EveryRowIsInTheIndependentTranscription) {
    auto rows = read_rows(std::string(MF_CAN_TEST_DATA) + "/node_objects_independent.csv");
    ASSERT_GT(rows.size(), static_cast<size_t>(can_nodes::obj_count));
    expect_table_rows_in(rows);
}

std::string bound_text(double v) {
    if (std::isinf(v)) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// The table's checks against the separately transcribed ranges: a listed object has
// exactly the listed bounds, any other object none.
TEST(NodeTable, RangesMatchTheTranscribedChecks) {
    auto rows = read_rows(std::string(MF_CAN_TEST_DATA) + "/node_ranges.csv");
    for (size_t i = 0; i < can_nodes::obj_count; ++i) {
        const can_nodes::node_object& o = can_nodes::node_objects[i];
        auto it = std::find_if(rows.begin(), rows.end(), [&](const std::vector<std::string>& r) {
            return r.size() >= 3 && r[0] == o.op && r[1] == index_text(o) && r[2] == std::to_string(o.subindex);
        });
        std::vector<std::string> bounds{bound_text(o.lo), bound_text(o.hi)};
        if (it == rows.end()) {
            EXPECT_EQ(bounds, (std::vector<std::string>{"", ""})) << "table row " << i << " (" << o.op << ")";
            continue;
        }
        it->resize(5);  // a line ending in an empty bound has four fields
        EXPECT_EQ(bounds, (std::vector<std::string>{(*it)[3], (*it)[4]})) << "table row " << i << " (" << o.op << ")";
        rows.erase(it);
    }
    for (const auto& r : rows)
        ADD_FAILURE() << "listed range not in the table: " << (r.empty() ? "" : r[0]);
}

}  // namespace
}  // namespace mf::test
