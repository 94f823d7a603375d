#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/errors.h"
#include "common/version.h"
#include "datafile/data_file.h"
#include "datafile/grid_file.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"
#include "tests/tool/tool_run.h"
#include "tool/colour_map.h"

#ifdef MF_INFO_PNG
#include <spng.h>
#endif

namespace mf {

namespace {

using json = nlohmann::json;

using test::lines;
using test::ToolRun;

ToolRun run_info(const std::vector<std::string>& args) { return test::run_tool(MAPFORGE_INFO_PROGRAM, args); }

// A phase map owning its samples; (x, y) at x + y * width.
struct PhaseMap {
    std::vector<int32_t> samples;
    data_array array{};
    PhaseMap(int width, int height) : samples(static_cast<size_t>(width) * height) {
        array = {static_cast<int32_t>(samples.size()),
                 0,
                 0,
                 static_cast<int16_t>(width),
                 static_cast<int16_t>(height),
                 samples.data()};
    }
    int32_t& at(int x, int y) { return samples[static_cast<size_t>(x) + static_cast<size_t>(y) * array.width]; }
};

// Text as JSON gives it back: Latin-1 bytes become UTF-8.
std::string latin1_to_utf8(const char* text, size_t size) {
    std::string out;
    for (size_t i = 0; i < size && text[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Every field of a header the file format holds gets a value of its own; a text
// field gets characters JSON must escape.
data_header distinct_header(int format) {
    data_header h{};
    auto* bytes = reinterpret_cast<unsigned char*>(&h);
    const size_t end = (format == 3 ? long_header_size : short_header_size) - data_header_file_offset;
    auto fill = [&](auto* values, size_t count, bool text) {
        using T = std::remove_pointer_t<decltype(values)>;
        const size_t offset = reinterpret_cast<unsigned char*>(values) - bytes;
        if (offset >= end) return;
        if (text) {
            const std::string t = std::to_string(offset) + " \"q\" \\ \t\xE9";
            std::memcpy(values, t.data(), std::min(t.size(), count - 1));
            return;
        }
        // The record is packed: values are copied in, not stored in place.
        for (size_t i = 0; i < count; ++i) {
            T value;
            if constexpr (std::is_floating_point_v<T>)
                value = static_cast<T>(offset) * 0.1f + 1.0f / 3;
            else
                value = static_cast<T>(offset * 2654435761u + i);
            std::memcpy(reinterpret_cast<unsigned char*>(values) + i * sizeof(T), &value, sizeof value);
        }
    };
#define MF_FILL_SCALAR(kind, type, name) fill(&h.name, 1, false);
#define MF_FILL_ARRAY(kind, type, name, count) fill(h.name, count, std::strcmp(#kind, "TEXT") == 0);
    MF_DATA_HEADER_FIELDS(MF_FILL_SCALAR, MF_FILL_ARRAY)
#undef MF_FILL_SCALAR
#undef MF_FILL_ARRAY
    h.phase_res = static_cast<int16_t>(format == 2 ? 2 : format == 1 ? 1 : 0);
    h.phase_scale = 3.7f;
    return h;
}

// Compares every header field of the report with the record the writer was given.
void expect_header_fields(const json& fields, const data_header& h, int header_size) {
    size_t present = 0;
    auto check = [&](const char* name, const auto* values, size_t count, bool text, bool array) {
        using T = std::remove_cv_t<std::remove_pointer_t<decltype(values)>>;
        const size_t offset =
            reinterpret_cast<const unsigned char*>(values) - reinterpret_cast<const unsigned char*>(&h);
        SCOPED_TRACE(name);
        if (offset + data_header_file_offset >= static_cast<size_t>(header_size)) {
            EXPECT_FALSE(fields.contains(name));
            return;
        }
        ++present;
        ASSERT_TRUE(fields.contains(name));
        const json& v = fields[name];
        if (text) {
            EXPECT_EQ(v.get<std::string>(), latin1_to_utf8(reinterpret_cast<const char*>(values), count));
            return;
        }
        ASSERT_EQ(v.is_array(), array);
        if (array) {
            ASSERT_EQ(v.size(), count);
        }
        for (size_t i = 0; i < count; ++i) {
            const json& e = array ? v[i] : v;
            T value;
            std::memcpy(&value, reinterpret_cast<const unsigned char*>(values) + i * sizeof(T), sizeof value);
            if constexpr (std::is_floating_point_v<T>) {
                if (std::isnan(value))
                    EXPECT_TRUE(e.is_null());
                else
                    EXPECT_EQ(static_cast<float>(e.get<double>()), value);
            } else {
                EXPECT_TRUE(e.is_number_integer());
                EXPECT_EQ(e.get<int64_t>(), static_cast<int64_t>(value));
            }
        }
    };
#define MF_CHECK_SCALAR(kind, type, name) check(#name, &h.name, 1, false, false);
#define MF_CHECK_ARRAY(kind, type, name, count) \
    check(#name, h.name, count, std::strcmp(#kind, "TEXT") == 0, std::strcmp(#kind, "TEXT") != 0);
    MF_DATA_HEADER_FIELDS(MF_CHECK_SCALAR, MF_CHECK_ARRAY)
#undef MF_CHECK_SCALAR
#undef MF_CHECK_ARRAY
    EXPECT_EQ(fields.size(), present);
}

double waves(double units, const data_header& h) {
    return units * static_cast<double>(h.phase_scale) / phase_resolution(h.phase_res);
}

#ifdef MF_INFO_PNG
struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels;
    std::vector<int> at(int x, int y) const {
        const uint8_t* p = pixels.data() + (static_cast<size_t>(y) * width + x) * channels;
        return std::vector<int>(p, p + channels);
    }
};

// Decodes a PNG as stored (8-bit grey or RGB).
Picture decode_png(const std::string& path) {
    const std::string bytes = test::read_file(path);
    Picture picture;
    spng_ctx* ctx = spng_ctx_new(0);
    spng_ihdr ihdr{};
    size_t size = 0;
    EXPECT_EQ(spng_set_png_buffer(ctx, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(spng_get_ihdr(ctx, &ihdr), 0);
    EXPECT_EQ(ihdr.bit_depth, 8);
    const bool grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE;
    EXPECT_TRUE(grey || ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR);
    const int format = grey ? SPNG_FMT_G8 : SPNG_FMT_RGB8;
    if (spng_decoded_image_size(ctx, format, &size) == 0) {
        picture.pixels.resize(size);
        EXPECT_EQ(spng_decode_image(ctx, picture.pixels.data(), size, format, 0), 0);
        picture.width = static_cast<int>(ihdr.width);
        picture.height = static_cast<int>(ihdr.height);
        picture.channels = grey ? 1 : 3;
    }
    spng_ctx_free(ctx);
    return picture;
}

std::vector<int> colour(const info::rgb& c) { return {c.r, c.g, c.b}; }
std::vector<int> scale_colour(double v, double low, double high) {
    return colour(info::phase_colours[static_cast<size_t>(std::lround((v - low) * 255 / (high - low)))]);
}
#endif

}  // namespace

TEST(InfoJson, EveryHeaderFieldShapesAndStatisticsInTheThreeFormats) {
    test::TempDir dir;
    for (int format = 1; format <= 3; ++format) {
        SCOPED_TRACE(format);
        data_header header = distinct_header(format);
        if (format == 3) header.req4 = std::numeric_limits<float>::quiet_NaN();
        sw_info sw{3, "k3dev with a name of 29 chars", -1, 32767, -32768};
        // Samples near both ends of the range overflow a 64-bit sum of squares.
        PhaseMap map(40, 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                map.at(x, y) = (x + y) % 7 == 0 ? invalid_phase + (x % 3) : (x * 37 - y * 1001) * 13;
        for (int x = 5; x < 13; ++x)
            map.at(x, 5) = x % 2 ? -2147483647 : 2147483639;
        map.array.origin_x = -3;
        map.array.origin_y = 9;
        std::vector<int16_t> frames(5 * 4 * 3, 7);
        intensity_array intensity{60, 2, 1, 5, 4, 3, -9, frames.data()};
        const std::string path = dir.file("map.dat");
        ASSERT_EQ(write_data_file(path.c_str(), &sw, &header, format == 2 ? &intensity : nullptr, &map.array), 0);

        const ToolRun r = run_info({"--json", path});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(r.out.substr(r.out.size() - lines("\n").size()), lines("\n"));
        const json report = json::parse(r.out);
        EXPECT_EQ(report["format"], format);
        EXPECT_EQ(report["header_size"], format == 3 ? 4096 : 834);
        EXPECT_EQ(report["software"],
                  json::parse(R"({"type":3,"name":"k3dev with a name of 29 chars","number1":-1,"number2":32767,)"
                              R"("number3":-32768})"));
        expect_header_fields(report["header"], header, format == 3 ? 4096 : 834);
        EXPECT_EQ(report["phase"], json::parse(R"({"origin_x":-3,"origin_y":9,"width":40,"height":30,"bytes":4800})"));
        EXPECT_EQ(
            report["intensity"],
            format == 2
                ? json::parse(R"({"origin_x":2,"origin_y":1,"width":5,"height":4,"frames":3,"aux":-9,"bytes":120})")
                : json::parse(R"({"origin_x":0,"origin_y":0,"width":0,"height":0,"frames":0,"aux":0,"bytes":0})"));

        // Statistics computed here the plain way, in waves.
        int64_t valid = 0;
        double sum = 0, low = 0, high = 0;
        for (int32_t v : map.samples) {
            if (v >= invalid_phase) continue;
            low = valid == 0 ? v : std::min<double>(low, v);
            high = valid == 0 ? v : std::max<double>(high, v);
            sum += v;
            ++valid;
        }
        const double mean = sum / static_cast<double>(valid);
        double deviations = 0;
        for (int32_t v : map.samples)
            if (v < invalid_phase) deviations += (v - mean) * (v - mean);
        const double rms = std::sqrt(deviations / static_cast<double>(valid));
        const json& stats = report["phase_statistics"];
        EXPECT_EQ(stats["resolution"], phase_resolution(header.phase_res));
        EXPECT_EQ(stats["valid_samples"], valid);
        EXPECT_EQ(stats["invalid_samples"], 1200 - valid);
        EXPECT_EQ(stats["min_units"], -2147483647);
        EXPECT_EQ(stats["max_units"], 2147483639);
        EXPECT_EQ(stats["waves_per_unit"].get<double>(), waves(1, header));
        EXPECT_EQ(stats["min_waves"].get<double>(), waves(low, header));
        EXPECT_EQ(stats["max_waves"].get<double>(), waves(high, header));
        EXPECT_NEAR(stats["mean_waves"].get<double>(), waves(mean, header), std::fabs(waves(mean, header)) * 1e-12);
        EXPECT_NEAR(stats["rms_waves"].get<double>(), waves(rms, header), waves(rms, header) * 1e-12);

#ifdef MF_INFO_PNG
        // The picture of the same map: the phase block is found after either header
        // size and after the intensity frames.
        const std::string picture = dir.file("map.png");
        const ToolRun painted = run_info({"--image", picture, path});
        ASSERT_EQ(painted.code, 0) << painted.err;
        const Picture p = decode_png(picture);
        ASSERT_EQ(p.width, 40);
        ASSERT_EQ(p.height, 30);
        EXPECT_EQ(p.at(0, 0), (std::vector<int>{128, 128, 128}));
        EXPECT_EQ(p.at(5, 5), colour(info::phase_colours[0]));
        EXPECT_EQ(p.at(6, 5), colour(info::phase_colours[255]));
        EXPECT_EQ(p.at(39, 29), scale_colour(map.at(39, 29), low, high));
#endif
    }
}

TEST(InfoJson, MapsWithoutValidSamples) {
    test::TempDir dir;
    PhaseMap map(3, 2);
    std::fill(map.samples.begin(), map.samples.end(), invalid_phase);
    std::vector<int16_t> frames(6, 1);
    intensity_array intensity{6, 0, 0, 3, 2, 1, 0, frames.data()};
    const std::string invalid = dir.file("invalid.dat"), frames_only = dir.file("frames.dat");
    ASSERT_EQ(write_data_file(invalid.c_str(), nullptr, nullptr, nullptr, &map.array), 0);
    ASSERT_EQ(write_data_file(frames_only.c_str(), nullptr, nullptr, &intensity, nullptr), 0);
    for (const auto& [path, invalid_count] : {std::pair{invalid, 6}, {frames_only, 0}}) {
        const ToolRun r = run_info({"--json", path});
        ASSERT_EQ(r.code, 0) << r.err;
        const json stats = json::parse(r.out)["phase_statistics"];
        EXPECT_EQ(stats["valid_samples"], 0);
        EXPECT_EQ(stats["invalid_samples"], invalid_count);
        for (const char* name : {"min_units", "max_units", "min_waves", "max_waves", "mean_waves", "rms_waves"})
            EXPECT_TRUE(stats[name].is_null()) << name;
    }
}

TEST(InfoJson, SpreadOfMapsFarFromZero) {
    // Three values one unit apart around a large offset: variance 2/3 units^2
    // whatever the offset, which only exact sums keep.
    test::TempDir dir;
    data_header header{};
    header.phase_scale = 1;
    for (int32_t offset : {2000000000, -2147483000, 5}) {
        SCOPED_TRACE(offset);
        PhaseMap map(3, 2);
        for (int i = 0; i < 6; ++i)
            map.samples[static_cast<size_t>(i)] = offset + i % 3;
        const std::string path = dir.file("far.dat");
        ASSERT_EQ(write_data_file(path.c_str(), nullptr, &header, nullptr, &map.array), 0);
        const ToolRun r = run_info({"--json", path});
        ASSERT_EQ(r.code, 0) << r.err;
        const json stats = json::parse(r.out)["phase_statistics"];
        EXPECT_EQ(stats["mean_waves"].get<double>(), (offset + 1.0) / 4096);
        EXPECT_NEAR(stats["rms_waves"].get<double>(), std::sqrt(2.0 / 3) / 4096, 1e-15 / 4096);
    }
}

TEST(InfoCommandLine, UsageErrorsAndHelp) {
    test::TempDir dir;
    const std::string a = dir.file("a.dat");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"--json"}, {"--image"}, {"--intensity", a}, {a, a}, {"--jsn", a}, {"--image", "x.png"}}) {
        const ToolRun r = run_info(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.substr(0, 15), "Usage:  mapforg");
        EXPECT_EQ(r.out, "");
    }
    const ToolRun help = run_info({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("row 0" + lines("\n") + "\t                  of the file at the top"), std::string::npos);
    EXPECT_EQ(help.err, "");
    // The one project version, as the packages carry it.
    const ToolRun version = run_info({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, lines("mapforge-info " MF_VERSION_TEXT "\n"));
    EXPECT_TRUE(std::regex_match(MF_VERSION_TEXT, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
    EXPECT_EQ(version.err, "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{});
}

TEST(InfoCommandLine, DamagedFilesAreRefusedWithTheReadersCodeInEveryMode) {
    test::TempDir dir;
    PhaseMap map(3, 2);
    const std::string sound = dir.file("sound.dat");
    ASSERT_EQ(write_data_file(sound.c_str(), nullptr, nullptr, nullptr, &map.array), 0);
    const std::string bytes = test::read_file(sound);
    const std::string cut = dir.file("cut.dat"), foreign = dir.file("foreign.dat"), shape = dir.file("shape.dat");
    test::write_file(cut, bytes.substr(0, bytes.size() - 1));
    test::write_file(foreign, "GRD 3 2 SUR WVL 0.6328 SSZ 4096.000000 NDA -32768\n");
    std::string no_count = bytes;
    no_count[75] = 28;
    test::write_file(shape, no_count);
    const std::string picture = dir.file("old.png");
    test::write_file(picture, "old picture");
    const std::vector<std::pair<std::string, std::string>> files = {{cut, "ERR_PREMATURE_EOF"},
                                                                    {foreign, "ERR_NOT_A_DATA_FILE"},
                                                                    {shape, "ERR_CORRUPT_DATA_FILE"},
                                                                    {dir.file("missing.dat"), "ERR_CANT_OPEN_FILE"}};
    for (const auto& [path, code] : files) {
        for (const std::vector<std::string>& mode :
             std::vector<std::vector<std::string>>{{}, {"--json"}, {"--image", picture}}) {
#ifndef MF_INFO_PNG
            if (!mode.empty() && mode[0] == "--image") continue;
#endif
            std::vector<std::string> args = mode;
            args.push_back(path);
            const ToolRun r = run_info(args);
            EXPECT_EQ(r.code, 2) << path;
            EXPECT_EQ(r.err, lines(path + ": " + code + "\n"));
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(test::read_file(picture), "old picture");
}

TEST(InfoCommandLine, LargeMapsInBoundedMemory) {
    // 64 MiB of samples; the program holds about a megabyte of them at a time. The
    // file is written a row at a time: a child's peak memory on Linux counts what
    // this process held when it started the child.
    test::TempDir dir;
    const int size = 4096;
    PhaseMap row(size, 1);
    const std::string path = dir.file("large.dat");
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, nullptr, &row.array), 0);
    std::string bytes = test::read_file(path);
    bytes.resize(short_header_size);
    store_be16(reinterpret_cast<unsigned char*>(bytes.data()) + 70, size);
    store_be32(reinterpret_cast<unsigned char*>(bytes.data()) + 72, size * size * 4);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    int32_t low = invalid_phase;
    for (int y = 0; y < size; ++y) {
        std::string samples(static_cast<size_t>(size) * 4, '\0');
        for (int x = 0; x < size; ++x) {
            const bool inside = (x - 2048) * (x - 2048) + (y - 2048) * (y - 2048) < 1900 * 1900;
            const int32_t v = inside ? x * 3 - y : invalid_phase;
            low = std::min(low, v);
            store_be32(reinterpret_cast<unsigned char*>(samples.data()) + x * 4, static_cast<uint32_t>(v));
        }
        out.write(samples.data(), static_cast<std::streamsize>(samples.size()));
    }
    out.close();
    ASSERT_TRUE(out.good());

    std::vector<std::vector<std::string>> runs{{"--json", path}};
#ifdef MF_INFO_PNG
    runs.push_back({"--image", dir.file("large.png"), path});
#endif
    for (const auto& args : runs) {
        const ToolRun r = run_info(args);
        EXPECT_EQ(r.code, 0) << r.err;
#ifndef MF_SANITIZE_BUILD
        if (r.peak_kb >= 0) {
            EXPECT_LT(r.peak_kb, 16 * 1024) << args[0];
        }
#endif
        if (args[0] == "--json") {
            const json stats = json::parse(r.out)["phase_statistics"];
            EXPECT_EQ(stats["min_units"], low);
            EXPECT_EQ(stats["valid_samples"].get<int64_t>() + stats["invalid_samples"].get<int64_t>(),
                      int64_t{size} * size);
        }
    }
}

#ifdef MF_INFO_PNG

TEST(InfoImage, TiltPlaneWithAnInvalidRing) {
    test::TempDir dir;
    const int w = 64, h = 48;
    PhaseMap map(w, h);
    auto in_ring = [](int x, int y) {
        const int r2 = (x - 32) * (x - 32) + (y - 24) * (y - 24);
        return r2 >= 10 * 10 && r2 < 14 * 14;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            map.at(x, y) = in_ring(x, y) ? invalid_phase : x * 1000 + y * 100 - 20000;
    const std::string path = dir.file("tilt.dat"), picture = dir.file("tilt.png");
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, nullptr, &map.array), 0);
    test::write_file(picture, "an older picture");
    const ToolRun r = run_info({"--image", picture, path});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    std::vector<std::string> entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"tilt.dat", "tilt.png"}));

    const Picture p = decode_png(picture);
    ASSERT_EQ(p.width, w);
    ASSERT_EQ(p.height, h);
    ASSERT_EQ(p.channels, 3);
    // Row 0 of the file is the top row: the smallest sample is the top left corner.
    EXPECT_EQ(p.at(0, 0), (std::vector<int>{0x44, 0x01, 0x54}));
    EXPECT_EQ(p.at(w - 1, h - 1), (std::vector<int>{0xfd, 0xe7, 0x25}));
    EXPECT_EQ(p.at(0, h - 1), scale_colour(4700 - 20000, -20000, 67700 - 20000));
    EXPECT_EQ(p.at(w - 1, 0), scale_colour(63000 - 20000, -20000, 67700 - 20000));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::vector<int> expected =
                in_ring(x, y) ? std::vector<int>{128, 128, 128} : scale_colour(map.at(x, y), -20000, 47700);
            ASSERT_EQ(p.at(x, y), expected) << x << "," << y;
        }
}

TEST(InfoImage, ShippedSampleAndTheReadmePicture) {
    test::TempDir dir;
    data_header header{};
    data_array phase{};
    sw_info sw{};
    ASSERT_EQ(read_grid_file(MF_SAMPLE_GRID, &header, &phase, &sw), 0);
    const std::string path = dir.file("sample.dat"), picture = dir.file("sample.png");
    ASSERT_EQ(write_data_file(path.c_str(), &sw, &header, nullptr, &phase), 0);
    const ToolRun r = run_info({"--image", picture, path});
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture p = decode_png(picture);
    ASSERT_EQ(p.width, phase.width);
    ASSERT_EQ(p.height, phase.height);
    const std::vector<int> grey{128, 128, 128};
    // The aperture is round: the corners hold no data.
    EXPECT_EQ(p.at(0, 0), grey);
    EXPECT_EQ(p.at(p.width - 1, 0), grey);
    EXPECT_EQ(p.at(0, p.height - 1), grey);
    EXPECT_EQ(p.at(p.width - 1, p.height - 1), grey);
    int32_t low = invalid_phase, high = -invalid_phase;
    for (int i = 0; i < phase.width * phase.height; ++i)
        if (phase.data[i] < invalid_phase) low = std::min(low, phase.data[i]), high = std::max(high, phase.data[i]);
    for (int y = 0; y < phase.height; ++y)
        for (int x = 0; x < phase.width; ++x) {
            const int32_t v = phase.data[x + y * phase.width];
            const std::vector<int> expected = v >= invalid_phase ? grey
                                              : v == low         ? colour(info::phase_colours[0])
                                              : v == high        ? colour(info::phase_colours[255])
                                                                 : p.at(x, y);
            EXPECT_EQ(p.at(x, y), expected) << x << "," << y;
        }
    // The picture the README shows is what the program makes of the sample.
    const Picture shown = decode_png(MF_README_PICTURE);
    EXPECT_EQ(shown.pixels, p.pixels);
    da_release(&phase);
}

TEST(InfoImage, FirstIntensityFrameInGreyLevels) {
    test::TempDir dir;
    std::vector<int16_t> frames(5 * 4 * 2);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<int16_t>(i < 20 ? static_cast<int>(i) * 300 - 1000 : 30000);
    intensity_array intensity{40, 0, 0, 5, 4, 2, 0, frames.data()};
    PhaseMap map(2, 2);
    const std::string path = dir.file("frames.dat"), picture = dir.file("frames.png");
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, &intensity, &map.array), 0);
    const ToolRun r = run_info({"--image", picture, "--intensity", path});
    ASSERT_EQ(r.code, 0) << r.err;
    const Picture p = decode_png(picture);
    ASSERT_EQ(p.channels, 1);
    ASSERT_EQ(p.width, 5);
    ASSERT_EQ(p.height, 4);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(p.pixels[static_cast<size_t>(i)], std::lround(i * 255.0 / 19)) << i;

    // A file without frames, or without a phase map, has nothing to paint.
    const std::string phase_only = dir.file("phase.dat"), frames_only = dir.file("frames_only.dat");
    ASSERT_EQ(write_data_file(phase_only.c_str(), nullptr, nullptr, nullptr, &map.array), 0);
    ASSERT_EQ(write_data_file(frames_only.c_str(), nullptr, nullptr, &intensity, nullptr), 0);
    const ToolRun none = run_info({"--intensity", "--image", dir.file("none.png"), phase_only});
    EXPECT_EQ(none.code, 3);
    EXPECT_EQ(none.err, lines("mapforge-info: " + phase_only + " holds no intensity frames\n"));
    const ToolRun no_map = run_info({"--image", dir.file("none.png"), frames_only});
    EXPECT_EQ(no_map.code, 3);
    EXPECT_EQ(no_map.err, lines("mapforge-info: " + frames_only + " holds no phase map\n"));
    std::vector<std::string> entries = dir.entries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"frames.dat", "frames.png", "frames_only.dat", "phase.dat"}));
}

TEST(InfoImage, PictureThatCannotBeCreated) {
    test::TempDir dir;
    PhaseMap map(2, 2);
    const std::string path = dir.file("map.dat"), picture = dir.file("no/such/folder.png");
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, nullptr, &map.array), 0);
    for (const std::string& target : {picture, dir.path()}) {
        const ToolRun r = run_info({"--image", target, path});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err, lines("mapforge-info: cannot write " + target + ": ERR_CANT_CREATE_FILE\n"));
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"map.dat"});
}

#else

TEST(InfoImage, UnavailableWithoutThePngLibrary) {
    test::TempDir dir;
    PhaseMap map(2, 2);
    const std::string path = dir.file("map.dat");
    ASSERT_EQ(write_data_file(path.c_str(), nullptr, nullptr, nullptr, &map.array), 0);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--image", dir.file("a.png"), path}, {"--json", "--image", dir.file("a.png"), "--intensity", path}}) {
        const ToolRun r = run_info(args);
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.err, lines("mapforge-info: --image is unavailable: this build has no PNG support\n"));
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"map.dat"});
}

#endif

}  // namespace mf
