// Ramp data files: the header record, the binary file, the instrument check, the
// standard file names and the text dump.
//
// A ramp file is the 328-byte header followed by nPoints unsigned 16-bit DAC points.
// The first 42 words of the header (offsets 0..167) are stored high byte first, each
// word reversed as a whole, floats included; the bytes from offset 168 on are stored
// low byte first. Points are stored high byte first. A file begins with "RAMQ".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace mf {

struct sysInfo;

inline constexpr int32_t rr_ramp_magic = 0x52414D51;  // "RAMQ" in file order
inline constexpr std::size_t rr_ramp_hdr_size = 328;
// Words of the header stored high byte first.
inline constexpr int rr_ramp_hdr_be_words = 42;

// Ramp types.
inline constexpr int32_t RAMP_TYPE_SWLI = 0;
inline constexpr int32_t RAMP_TYPE_PMI_FIRST = 1;
inline constexpr int32_t RAMP_TYPE_PMI_LAST = 15;
inline constexpr int32_t RAMP_TYPE_BTW = 17;

inline constexpr bool rr_is_pmi(int32_t type) { return type >= RAMP_TYPE_PMI_FIRST && type <= RAMP_TYPE_PMI_LAST; }

inline constexpr int rr_ramp_type_count = 20;
// Printed names of the ramp types 0..19 ("?" for the unused numbers).
extern const char* const rr_ramp_type_names[rr_ramp_type_count];
// The table name, or "?" for a type outside the table.
const char* rr_ramp_type_name(int32_t type);

struct rr_ramp_hdr_t {
    int32_t magicNumber;
    int32_t rampType;
    int32_t pztID;  // serial of the scanner the ramp was made for
    int32_t rampID;
    int32_t nPoints;
    int32_t rampUp;
    int32_t rampStart;
    int32_t rampLinear;
    int32_t rampEnd;
    float sampleClkFreq;  // point clock, kHz
    float cameraRate;     // Hz
    int32_t updateRate;   // nearest integer to 65536 - 4000 / sampleClkFreq
    int32_t grabSkip;
    float rampSlope;  // nm per frame
    int32_t trigStartAddr;
    int32_t trigEndAddr;
    int32_t rampGainDflt;
    float rampTriple[3];
    float scanLen;  // micrometres
    int32_t polar;  // polarity letter in the low-order byte
    int32_t offset;
    int32_t nBuckets;
    float rampLin;
    float rampTrim;
    float cameraPClock;
    int32_t cameraHPeriod;
    int32_t cameraVPeriod;
    int32_t cameraInterlace;
    int32_t rampMux;
    int32_t instrBdType;  // board the ramp was made for, 0 = any
    int32_t compGain;
    int32_t compFilter;
    int32_t leakage;
    int32_t adcMin;
    int32_t adcMax;
    int32_t adcFirst;
    int32_t adcMid;
    int32_t adcLast;
    float scanCal;
    int32_t reserved164;
    // Stored low byte first from here on.
    float fringesPerFrame;
    float objMag;
    int32_t wavelenSelect;  // BTW filter index 1..4
    int32_t reserved180[4];
    unsigned char spare[132];
};

static_assert(sizeof(float) == 4);
static_assert(sizeof(rr_ramp_hdr_t) == rr_ramp_hdr_size);
static_assert(offsetof(rr_ramp_hdr_t, magicNumber) == 0);
static_assert(offsetof(rr_ramp_hdr_t, rampType) == 4);
static_assert(offsetof(rr_ramp_hdr_t, pztID) == 8);
static_assert(offsetof(rr_ramp_hdr_t, rampID) == 12);
static_assert(offsetof(rr_ramp_hdr_t, nPoints) == 16);
static_assert(offsetof(rr_ramp_hdr_t, rampUp) == 20);
static_assert(offsetof(rr_ramp_hdr_t, rampStart) == 24);
static_assert(offsetof(rr_ramp_hdr_t, rampLinear) == 28);
static_assert(offsetof(rr_ramp_hdr_t, rampEnd) == 32);
static_assert(offsetof(rr_ramp_hdr_t, sampleClkFreq) == 36);
static_assert(offsetof(rr_ramp_hdr_t, cameraRate) == 40);
static_assert(offsetof(rr_ramp_hdr_t, updateRate) == 44);
static_assert(offsetof(rr_ramp_hdr_t, grabSkip) == 48);
static_assert(offsetof(rr_ramp_hdr_t, rampSlope) == 52);
static_assert(offsetof(rr_ramp_hdr_t, trigStartAddr) == 56);
static_assert(offsetof(rr_ramp_hdr_t, trigEndAddr) == 60);
static_assert(offsetof(rr_ramp_hdr_t, rampGainDflt) == 64);
static_assert(offsetof(rr_ramp_hdr_t, rampTriple) == 68);
static_assert(offsetof(rr_ramp_hdr_t, scanLen) == 80);
static_assert(offsetof(rr_ramp_hdr_t, polar) == 84);
static_assert(offsetof(rr_ramp_hdr_t, offset) == 88);
static_assert(offsetof(rr_ramp_hdr_t, nBuckets) == 92);
static_assert(offsetof(rr_ramp_hdr_t, rampLin) == 96);
static_assert(offsetof(rr_ramp_hdr_t, rampTrim) == 100);
static_assert(offsetof(rr_ramp_hdr_t, cameraPClock) == 104);
static_assert(offsetof(rr_ramp_hdr_t, cameraHPeriod) == 108);
static_assert(offsetof(rr_ramp_hdr_t, cameraVPeriod) == 112);
static_assert(offsetof(rr_ramp_hdr_t, cameraInterlace) == 116);
static_assert(offsetof(rr_ramp_hdr_t, rampMux) == 120);
static_assert(offsetof(rr_ramp_hdr_t, instrBdType) == 124);
static_assert(offsetof(rr_ramp_hdr_t, compGain) == 128);
static_assert(offsetof(rr_ramp_hdr_t, compFilter) == 132);
static_assert(offsetof(rr_ramp_hdr_t, leakage) == 136);
static_assert(offsetof(rr_ramp_hdr_t, adcMin) == 140);
static_assert(offsetof(rr_ramp_hdr_t, adcMax) == 144);
static_assert(offsetof(rr_ramp_hdr_t, adcFirst) == 148);
static_assert(offsetof(rr_ramp_hdr_t, adcMid) == 152);
static_assert(offsetof(rr_ramp_hdr_t, adcLast) == 156);
static_assert(offsetof(rr_ramp_hdr_t, scanCal) == 160);
static_assert(offsetof(rr_ramp_hdr_t, reserved164) == 164);
static_assert(offsetof(rr_ramp_hdr_t, fringesPerFrame) == 168);
static_assert(offsetof(rr_ramp_hdr_t, objMag) == 172);
static_assert(offsetof(rr_ramp_hdr_t, wavelenSelect) == 176);
static_assert(offsetof(rr_ramp_hdr_t, reserved180) == 180);
static_assert(offsetof(rr_ramp_hdr_t, spare) == 196);
static_assert(offsetof(rr_ramp_hdr_t, fringesPerFrame) == rr_ramp_hdr_be_words * 4);

// The file image of a header, and back. Encoding takes the header as it is (the
// magic number included); decoding accepts any bytes.
void rr_encode_ramp_hdr(const rr_ramp_hdr_t& hdr, unsigned char image[rr_ramp_hdr_size]);
void rr_decode_ramp_hdr(const unsigned char image[rr_ramp_hdr_size], rr_ramp_hdr_t* hdr);

// Reads a ramp data file. The header is cleared first and a buffer in *points is
// released (through the library allocator) and set to null. With points non-null
// and nPoints above 0 the points are read into a new buffer that the caller owns and
// releases with u_free. A header whose nPoints is negative, or, when points are read,
// larger than the rest of the file holds, is refused before anything is allocated.
// ERR_INVALID_PARAM (no header), ERR_CANT_OPEN_FILE, ERR_PREMATURE_EOF (fewer than
// 4 bytes, or a short header), ERR_NOT_A_RAMP_FILE, ERR_CORRUPT_RAMP_FILE, ERR_NO_MEM.
// On failure no points buffer is left; a header that was read whole stays decoded.
int32_t rr_read_ramp_file(const char* path, rr_ramp_hdr_t* hdr, uint16_t** points);
// The same from an open binary stream at its current position.
int32_t rr_read_ramp_stream(std::FILE* stream, rr_ramp_hdr_t* hdr, uint16_t** points);

// Writes a ramp data file: the header (with magicNumber set; the caller's record is
// not changed) and its nPoints points. ERR_INVALID_PARAM (no header, no points, or a
// negative nPoints), ERR_CANT_CREATE_FILE, ERR_CANT_WRITE_FILE, ERR_NO_MEM.
int32_t rr_write_ramp_file(const char* path, const rr_ramp_hdr_t* hdr, const uint16_t* points);
int32_t rr_write_ramp_stream(std::FILE* stream, const rr_ramp_hdr_t* hdr, const uint16_t* points);

// Decides whether a ramp may be used with the instrument: board type, PIFOC serial
// (-1 without a PIFOC) and PZT serial (-1 without a PZT). May rewrite pztID to the
// present scanner's serial and store the accepted fringesPerFrame. Diagnostics name
// the file as given. ERR_WRONG_INSTR_BOARD, ERR_INVALID_PARAM, ERR_CORRUPT_RAMP_FILE.
int32_t rr_check_ramp_hdr(const char* filename, rr_ramp_hdr_t* hdr, int32_t boardType, int32_t pifocSerial,
                          int32_t pztSerial);

// The scanner serials of a system record: the PIFOC record's serial (-1 without
// one), and the system serial number as the PZT serial except on the system types
// that carry no PZT (-1). ERR_SYS_INFO_NOT_AVAIL without a record.
int32_t rr_scanner_serials(const sysInfo* si, int32_t* pifocSerial, int32_t* pztSerial);
// The instrument check against a system record: its board and scanner serials.
int32_t rr_check_ramp_for_system(const char* filename, rr_ramp_hdr_t* hdr, const sysInfo* si);

// The standard file name of a ramp ("d10s81c25.b12345", "p5c15.q7", ...), built in
// one process-wide buffer that the next call overwrites; null for an unsupported
// ramp type or a header whose values give no name.
const char* rr_get_std_ramp_filename(const rr_ramp_hdr_t* hdr);

// fringesPerFrame 0.25, 0.75, ..., 2.75 and 5.25 (within 0.001) to the code four
// times the value. ERR_INTERNAL_HX for any other value.
int32_t rr_fringe_code(float fringesPerFrame, int32_t* code);

// Scan type 1, 5, 9, 17, 33, 65 to fringes per frame 0.25 ... 2.75.
// ERR_INTERNAL_HX for any other scan type.
int32_t rr_scan_type_to_fpf(int32_t scanType, float* fringesPerFrame);

// Writes the header as text, one line per field, then the points when given: one per
// line, or in the compact form ten to a line.
void rr_dump_ramp_hdr(std::FILE* stream, const rr_ramp_hdr_t* hdr, const uint16_t* points, bool compact);

}  // namespace mf
