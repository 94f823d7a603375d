// The measurement header record, the software record and the array descriptors
// of the binary measurement data file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mf {

// Software identification, from the SWI line of the text formats.
struct sw_info {
    int16_t type;  // 0 "Unknown Software", 1 "Ostrabel", 2 "Halcyonide", 3 "k3dev"
    char name[30];
    int16_t number1;
    int16_t number2;
    int16_t number3;
};

// Every field of the header from file offset 76 to 4096, in file order, with its
// kind: NUM fields are stored big-endian in units of their element width, LE32 is
// the one field the file keeps in little-endian order, TEXT and BYTES are copied.
// F(kind, type, name) is a scalar, A(kind, type, name, count) an array.
#define MF_DATA_HEADER_FIELDS(F, A)    \
    F(NUM, int32_t, time_stamp)        \
    A(TEXT, char, comment, 82)         \
    F(NUM, int16_t, source)            \
    F(NUM, float, phase_scale)         \
    F(NUM, float, wavelength)          \
    F(NUM, float, req3)                \
    F(NUM, float, req4)                \
    F(NUM, float, mag1)                \
    F(NUM, float, req5)                \
    F(NUM, int16_t, acq)               \
    F(NUM, int16_t, iac)               \
    F(NUM, int16_t, rmp1)              \
    F(NUM, int16_t, rmp2)              \
    F(NUM, int16_t, rmp3)              \
    F(NUM, float, mag2)                \
    F(NUM, int16_t, llv1)              \
    F(NUM, float, llv2)                \
    A(BYTES, uint8_t, bytes208, 2)     \
    F(NUM, int32_t, mod1)              \
    F(NUM, int32_t, mod2)              \
    F(NUM, int16_t, phase_res)         \
    F(NUM, int32_t, con1)              \
    F(NUM, int16_t, con2)              \
    F(NUM, float, con3)                \
    F(NUM, int16_t, con4)              \
    F(NUM, int16_t, sgn)               \
    F(NUM, int16_t, req1)              \
    F(NUM, int16_t, req2)              \
    F(NUM, int16_t, sys1)              \
    F(NUM, int16_t, sys2)              \
    F(NUM, int16_t, sys3)              \
    F(NUM, int16_t, sys4)              \
    A(TEXT, char, onm, 12)             \
    A(TEXT, char, pnm, 40)             \
    F(NUM, int16_t, surface)           \
    F(NUM, int16_t, pac)               \
    F(NUM, int16_t, err_value)         \
    A(BYTES, uint8_t, reserved304, 16) \
    A(TEXT, char, psn, 40)             \
    F(NUM, float, mag3)                \
    F(NUM, int16_t, mag4)              \
    F(NUM, int16_t, num366)            \
    F(NUM, uint32_t, num368)           \
    F(NUM, int16_t, num372)            \
    F(NUM, int16_t, num374)            \
    F(NUM, uint32_t, num376)           \
    F(NUM, uint32_t, num380)           \
    F(NUM, int16_t, num384)            \
    A(NUM, uint32_t, num386, 3)        \
    A(BYTES, uint8_t, bytes398, 8)     \
    F(NUM, int16_t, num406)            \
    A(BYTES, uint8_t, bytes408, 20)    \
    F(NUM, int16_t, num428)            \
    A(NUM, uint32_t, num430, 17)       \
    F(NUM, float, llv3)                \
    A(BYTES, uint8_t, bytes502, 32)    \
    A(TEXT, char, err_text, 28)        \
    A(BYTES, uint8_t, bytes562, 172)   \
    F(NUM, int16_t, num734)            \
    A(BYTES, uint8_t, bytes736, 62)    \
    F(LE32, int32_t, sys3_long)        \
    A(BYTES, uint8_t, bytes802, 14)    \
    F(NUM, int16_t, num816)            \
    A(BYTES, uint8_t, bytes818, 16)    \
    A(BYTES, uint8_t, bytes834, 4)     \
    F(NUM, int16_t, num838)            \
    F(NUM, int16_t, num840)            \
    A(NUM, uint32_t, num842, 7)        \
    A(TEXT, char, text870, 30)         \
    A(NUM, int16_t, num900, 2)         \
    A(TEXT, char, text904, 30)         \
    F(NUM, uint32_t, num934)           \
    A(BYTES, uint8_t, bytes938, 60)    \
    A(NUM, uint32_t, num998, 10)       \
    A(BYTES, uint8_t, bytes1038, 88)   \
    A(NUM, uint32_t, num1126, 23)      \
    A(BYTES, uint8_t, bytes1218, 32)   \
    A(NUM, uint32_t, num1250, 3)       \
    A(BYTES, uint8_t, bytes1262, 2)    \
    F(NUM, int16_t, num1264)           \
    A(NUM, uint32_t, num1266, 14)      \
    A(BYTES, uint8_t, bytes1322, 2)    \
    F(NUM, int16_t, num1324)           \
    A(NUM, uint32_t, num1326, 14)      \
    A(BYTES, uint8_t, bytes1382, 2)    \
    F(NUM, int16_t, num1384)           \
    A(NUM, uint32_t, num1386, 14)      \
    A(BYTES, uint8_t, bytes1442, 4)    \
    F(NUM, uint32_t, num1446)          \
    F(NUM, uint32_t, num1450)          \
    A(BYTES, uint8_t, bytes1454, 2642)

#define MF_HEADER_SCALAR(kind, type, name) type name;
#define MF_HEADER_ARRAY(kind, type, name, count) type name[count];
#pragma pack(push, 1)
// The measurement header, in the machine's own byte order. A new record is all zero.
struct data_header {
    MF_DATA_HEADER_FIELDS(MF_HEADER_SCALAR, MF_HEADER_ARRAY)
};
#pragma pack(pop)
#undef MF_HEADER_SCALAR
#undef MF_HEADER_ARRAY

// File offset of the record's first byte, and the header sizes of the formats.
inline constexpr int data_header_file_offset = 76;
inline constexpr int short_header_size = 834;
inline constexpr int long_header_size = 4096;
// Any non-zero byte from this file offset on makes the writer choose format 3.
inline constexpr int format3_first_offset = 838;

static_assert(sizeof(sw_info) == 38);
static_assert(sizeof(data_header) == long_header_size - data_header_file_offset);
#define MF_AT(field, file_offset) static_assert(offsetof(data_header, field) + data_header_file_offset == (file_offset))
MF_AT(time_stamp, 76);
MF_AT(comment, 80);
MF_AT(source, 162);
MF_AT(phase_scale, 164);
MF_AT(wavelength, 168);
MF_AT(req5, 184);
MF_AT(acq, 188);
MF_AT(mag2, 198);
MF_AT(llv2, 204);
MF_AT(mod1, 210);
MF_AT(phase_res, 218);
MF_AT(con1, 220);
MF_AT(con4, 230);
MF_AT(sgn, 232);
MF_AT(sys4, 244);
MF_AT(onm, 246);
MF_AT(pnm, 258);
MF_AT(surface, 298);
MF_AT(err_value, 302);
MF_AT(psn, 320);
MF_AT(mag3, 360);
MF_AT(mag4, 364);
MF_AT(num386, 386);
MF_AT(num430, 430);
MF_AT(llv3, 498);
MF_AT(err_text, 534);
MF_AT(num734, 734);
MF_AT(sys3_long, 798);
MF_AT(num816, 816);
MF_AT(bytes834, 834);
MF_AT(num838, 838);
MF_AT(text870, 870);
MF_AT(num1126, 1126);
MF_AT(num1264, 1264);
MF_AT(num1384, 1384);
MF_AT(num1450, 1450);
MF_AT(bytes1454, 1454);
#undef MF_AT

// Phase samples at or above this value are invalid; producers write exactly it.
inline constexpr int32_t invalid_phase = 0x7FFFFFF8;

// Phase resolution R selected by the header's resolution code.
inline int32_t phase_resolution(int16_t code) { return code == 2 ? 131072 : code == 1 ? 32768 : 4096; }

// Phase map: one frame of int32 samples; element (x, y) is at
// (x - origin_x) + (y - origin_y) * width.
struct data_array {
    int32_t capacity;  // elements allocated, 0 when empty
    int16_t origin_x;
    int16_t origin_y;
    int16_t width;
    int16_t height;
    int32_t* data;
};

// Intensity frames: width * height * frames int16 samples.
struct intensity_array {
    int32_t capacity;
    int16_t origin_x;
    int16_t origin_y;
    int16_t width;
    int16_t height;
    int16_t frames;
    int16_t aux;  // copied to the header unchanged
    int16_t* data;
};

// Allocates from the descriptor's own shape through the library allocator.
// ERR_PARAM_OUT_OF_RANGE for an empty or negative shape, ERR_NO_MEM.
int32_t da_alloc(data_array* array);
int32_t da_alloc(intensity_array* array);

// Gives the descriptor a new shape. Storage is reallocated when the new count
// grows, or shrinks with keep_storage off; a zero count releases the data and
// keeps the old shape. Values are not preserved. ERR_NO_MEM leaves the shape.
int32_t da_reshape(data_array* array, int16_t origin_x, int16_t origin_y, int16_t width, int16_t height,
                   bool keep_storage);
int32_t da_reshape(intensity_array* array, int16_t origin_x, int16_t origin_y, int16_t width, int16_t height,
                   bool keep_storage);

// Releases the data; capacity, width and height become 0, the origin stays.
void da_release(data_array* array);
void da_release(intensity_array* array);

}  // namespace mf
