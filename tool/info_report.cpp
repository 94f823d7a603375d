#include "tool/info_report.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "common/errors.h"

namespace mf::info {

void phase_stats::add_row(const int32_t* samples, int count) {
    for (int i = 0; i < count; ++i) {
        const int32_t v = samples[i];
        if (v >= invalid_phase) {
            ++invalid;
            continue;
        }
        if (valid++ == 0) low = high = v;
        if (v < low) low = v;
        if (v > high) high = v;
        sum += v;
        squares += static_cast<uint64_t>(int64_t{v} * v);
    }
}

double phase_stats::waves(const data_header& header, double units) {
    return units * static_cast<double>(header.phase_scale) / static_cast<double>(phase_resolution(header.phase_res));
}

double phase_stats::mean_units() const {
    return valid > 0 ? static_cast<double>(static_cast<long double>(sum) / valid) : 0;
}

double phase_stats::rms_units() const {
    if (valid == 0) return 0;
    // n x (sum of squares) - sum^2 is n^2 times the variance, exact in integers
    // (below 2^122), so a map far from zero with little spread keeps its digits;
    // the mean of the squares less the squared mean loses them.
    const uint64_t magnitude = sum < 0 ? 0 - static_cast<uint64_t>(sum) : static_cast<uint64_t>(sum);
    const uint128 scaled_variance = static_cast<uint128>(valid) * squares - static_cast<uint128>(magnitude) * magnitude;
    return static_cast<double>(std::sqrt(static_cast<long double>(scaled_variance)) / valid);
}

int rows_per_block(int width, int sample_size) {
    const int rows = (1 << 20) / (width * sample_size);
    return rows > 0 ? rows : 1;
}

int32_t scan_phase(data_file_reader& reader, phase_stats* stats) {
    *stats = {};
    const data_array& shape = reader.layout().phase;
    if (reader.layout().phase_bytes == 0) return 0;
    if (int32_t status = reader.seek_phase()) return status;
    const int block = rows_per_block(shape.width, 4);
    std::vector<int32_t> rows(static_cast<size_t>(block) * shape.width);
    for (int y = 0; y < shape.height; y += block) {
        const int n = shape.height - y < block ? shape.height - y : block;
        if (int32_t status = reader.read_phase_rows(rows.data(), n)) return status;
        stats->add_row(rows.data(), n * shape.width);
    }
    return 0;
}

namespace {

class json_writer {
public:
    std::string text;

    void key(const char* name) {
        comma();
        raw_string(name, std::strlen(name));
        text += ':';
    }
    void begin(char bracket) {
        comma();
        text += bracket;
    }
    void end(char bracket) { text += bracket; }
    template <typename T>
    void number(T v) {
        comma();
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(v)) {
                text += "null";
                return;
            }
        }
        char buffer[64];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
        text.append(buffer, result.ptr);
    }
    void null() {
        comma();
        text += "null";
    }
    // Text up to its first zero byte; bytes above 127 are Latin-1 characters.
    void string(const char* s, size_t size) {
        comma();
        raw_string(s, size);
    }

private:
    void raw_string(const char* s, size_t size) {
        text += '"';
        for (size_t i = 0; i < size && s[i] != '\0'; ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            if (c == '"' || c == '\\') {
                text += '\\';
                text += static_cast<char>(c);
            } else if (c < 0x20 || c >= 0x7F) {
                static const char hex[] = "0123456789abcdef";
                text += "\\u00";
                text += hex[c >> 4];
                text += hex[c & 15];
            } else {
                text += static_cast<char>(c);
            }
        }
        text += '"';
    }

    // A key or a value after another in the same object or array is separated by a
    // comma; a value right after its key, or the first one in its brackets, is not.
    void comma() {
        if (!text.empty() && text.back() != ':' && text.back() != '{' && text.back() != '[') text += ',';
    }
};

enum class json_kind { NUM, LE32, TEXT, BYTES };

template <typename T>
void field_value(json_writer& out, json_kind kind, const T* values, size_t count, bool array) {
    if (kind == json_kind::TEXT) {
        out.string(reinterpret_cast<const char*>(values), count);
        return;
    }
    if (array) out.begin('[');
    // The record is packed: its fields are copied out, not read in place.
    for (size_t i = 0; i < count; ++i) {
        T value;
        std::memcpy(&value, reinterpret_cast<const unsigned char*>(values) + i * sizeof(T), sizeof value);
        if constexpr (std::is_same_v<T, uint8_t> || std::is_same_v<T, char>)
            out.number(static_cast<unsigned>(static_cast<uint8_t>(value)));
        else
            out.number(value);
    }
    if (array) out.end(']');
}

void header_fields(json_writer& out, const data_header& h, int header_size) {
    // Fields from format 3 on exist only in files of that format.
    auto present = [header_size](size_t offset) { return offset + data_header_file_offset < size_t(header_size); };
#define MF_JSON_SCALAR(kind, type, name)                            \
    if (present(offsetof(data_header, name))) {                     \
        out.key(#name);                                             \
        field_value<type>(out, json_kind::kind, &h.name, 1, false); \
    }
#define MF_JSON_ARRAY(kind, type, name, count)                        \
    if (present(offsetof(data_header, name))) {                       \
        out.key(#name);                                               \
        field_value<type>(out, json_kind::kind, h.name, count, true); \
    }
    MF_DATA_HEADER_FIELDS(MF_JSON_SCALAR, MF_JSON_ARRAY)
#undef MF_JSON_SCALAR
#undef MF_JSON_ARRAY
}

}  // namespace

std::string json_report(const data_file_layout& layout, const phase_stats& stats) {
    json_writer out;
    out.begin('{');
    out.key("format");
    out.number(layout.format);
    out.key("header_size");
    out.number(layout.header_size);

    out.key("software");
    out.begin('{');
    out.key("type");
    out.number(layout.sw.type);
    out.key("name");
    out.string(layout.sw.name, sizeof layout.sw.name);
    out.key("number1");
    out.number(layout.sw.number1);
    out.key("number2");
    out.number(layout.sw.number2);
    out.key("number3");
    out.number(layout.sw.number3);
    out.end('}');

    out.key("header");
    out.begin('{');
    header_fields(out, layout.header, layout.header_size);
    out.end('}');

    const intensity_array& in = layout.intensity;
    out.key("intensity");
    out.begin('{');
    for (auto [name, value] : {std::pair{"origin_x", in.origin_x},
                               {"origin_y", in.origin_y},
                               {"width", in.width},
                               {"height", in.height},
                               {"frames", in.frames},
                               {"aux", in.aux}}) {
        out.key(name);
        out.number(value);
    }
    out.key("bytes");
    out.number(layout.intensity_bytes);
    out.end('}');

    const data_array& ph = layout.phase;
    out.key("phase");
    out.begin('{');
    for (auto [name, value] :
         {std::pair{"origin_x", ph.origin_x}, {"origin_y", ph.origin_y}, {"width", ph.width}, {"height", ph.height}}) {
        out.key(name);
        out.number(value);
    }
    out.key("bytes");
    out.number(layout.phase_bytes);
    out.end('}');

    const data_header& h = layout.header;
    out.key("phase_statistics");
    out.begin('{');
    out.key("resolution");
    out.number(phase_resolution(h.phase_res));
    out.key("waves_per_unit");
    out.number(phase_stats::waves(h, 1));
    out.key("valid_samples");
    out.number(stats.valid);
    out.key("invalid_samples");
    out.number(stats.invalid);
    out.key("min_units");
    stats.valid ? out.number(stats.low) : out.null();
    out.key("max_units");
    stats.valid ? out.number(stats.high) : out.null();
    const double values[] = {phase_stats::waves(h, stats.low), phase_stats::waves(h, stats.high),
                             phase_stats::waves(h, stats.mean_units()),
                             std::fabs(phase_stats::waves(h, stats.rms_units()))};
    const char* names[] = {"min_waves", "max_waves", "mean_waves", "rms_waves"};
    for (int i = 0; i < 4; ++i) {
        out.key(names[i]);
        stats.valid ? out.number(values[i]) : out.null();
    }
    out.end('}');
    out.end('}');
    out.text += '\n';
    return out.text;
}

}  // namespace mf::info
