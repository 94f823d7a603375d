// The system information record: one per system slot, filled from the system
// calibration file, and the instrument record every instrument module receives.
//
// Per-instrument state that later modules keep with an instrument (CAN state, ramp
// set and slot table, serial port record) lives in those modules, in tables of
// sys_slot_count entries indexed by sysInfo::slot; the record itself holds only what
// the calibration file describes.
//
// Every member carries its default as its initialiser, so a value-initialised record
// (sysInfo{}) holds the defaults that sb_setDefaults restores. Texts and sub-records
// are owned by the record, allocated through the library allocator and released by
// sb_setDefaults; a null sub-record means the file did not mention it.
#pragma once

#include <cstdint>
#include <limits>

namespace mf {

inline constexpr int sys_slot_count = 4;

// Instrument board types (the calibration file's board name table).
enum instr_board : int32_t {
    BOARD_NONE = 0,
    BOARD_SABLEQV = 1,
    BOARD_KNAP = 2,
    BOARD_TARN = 3,
    BOARD_HEUGH = 4,
    BOARD_CAIRN = 5,
    BOARD_BRAE = 6,
    BOARD_FENN = 7,
    BOARD_CAN = 8,
    BOARD_NOTNEEDED = 9,
};

// System types (the numbers stored in sysInfo::sysType).
enum sys_type : int32_t {
    SYS_UNKNOWN = 0,
    SYS_HOLM = 1,
    SYS_SCARP = 2,
    SYS_SCARPNT = 3,
    SYS_TARN = 4,
    SYS_SCARPSABLE = 5,
    SYS_SCARPQV = 6,
    SYS_SCARPSABLEQV = 7,
    SYS_HOLMTARN = 8,
    SYS_DRUMLIN = 9,
    SYS_SCARPVS = 10,
    SYS_SCARPSABLEICO = 11,
    SYS_SCARPQVICO = 12,
    SYS_SCARPSABLEQVICO = 13,
    SYS_CAIRN = 14,
    SYS_BRAE = 15,
    SYS_FENN = 16,
    SYS_RILLET = 17,
    SYS_ESKER = 18,
    SYS_SKERRY = 19,
    SYS_SCARPDELTA = 20,
    SYS_KAME250 = 21,
    SYS_LOOMA = 22,
    SYS_TARNCAN = 23,
    SYS_HOLMFP = 24,
    SYS_HOLMPH = 25,
    SYS_ESKERCAN = 26,
    SYS_WSTARN = 27,
    SYS_LOOMAS = 28,
    SYS_LOOMAP = 29,
    SYS_SKERRY_CAN = 30,
    SYS_LOOMB = 31,
    SYS_WSTARNCAN = 32,
    SYS_BRAE_CAN = 33,
    SYS_LOOMBS = 34,
    SYS_LOOMBP = 35,
    SYS_SPECIAL = 36,
};

enum frame_grabber : int32_t {
    FG_NONE = 0,
    FG_RPC = 1,
    FG_MATROX = 2,
    FG_PULSAR = 3,
    FG_GENESIS = 4,
    FG_CORONA = 5,
    FG_BANDIT = 6,
    FG_FIREWIRE = 7,
    FG_CAMERALINK = 8,
    FG_FLASHBUS = 9,
    FG_GIGE = 10,
    FG_X64LVDS = 11,
    FG_PC2VISION = 12,
};

enum camera_type : int32_t {
    CAM_UNKNOWN = 0,
    CAM_XC77CE = 1,
    CAM_P62505 = 2,
    CAM_CID2220 = 3,
    CAM_VIDICON = 4,
    CAM_EEV1715A = 5,
    CAM_TM6705 = 6,
    CAM_XC7500 = 7,
    CAM_XC7500S = 8,
    CAM_SMD4M15 = 9,
    CAM_INFRACAMA = 10,
    CAM_CID2250 = 11,
    CAM_CUSTOM = 12,
    CAM_TM6710 = 13,
    CAM_SIM200 = 14,
    CAM_BASLER = 15,
    CAM_SU320 = 16,
    CAM_DGFLY640 = 17,
    CAM_DGFLY1024 = 18,
    CAM_IMPERXVGA = 19,
    CAM_ADIMEC1000 = 20,
    CAM_A311F = 21,
    CAM_A312F = 22,
    CAM_TM6740 = 23,
    CAM_DGFLY6200 = 24,
    CAM_SCA640 = 25,
    CAM_ADIMEC4050 = 26,
    CAM_ADIMEC4150 = 27,
    CAM_PIA640 = 28,
    CAM_E2V7899 = 29,
    CAM_PIA1000 = 30,
    CAM_SCA640G = 31,
    CAM_A504K = 32,
};

enum camera_align : int32_t { ALIGN_DEFAULT = 0, ALIGN_CENTER = 1, ALIGN_TOPLEFT = 2 };
enum light_type : int32_t {
    LIGHT_UNKNOWN = 0,
    LIGHT_HENE = 1,
    LIGHT_DIODE = 2,
    LIGHT_WHITE = 3,
    LIGHT_SPECIAL = 4,
    LIGHT_LED = 5,
};
enum llc_instr : int32_t { LLC_NONE = 0, LLC_DD100MC = 1, LLC_DD100MC_B = 2, LLC_CAIRN = 3 };
enum temp_sensor : int32_t { TEMP_NONE = 0, TEMP_EURO2216E = 1 };
enum pos_instr : int32_t {
    POS_NONE = 0,
    POS_QUOIN = 1,
    POS_VMI = 2,
    POS_HEID = 3,
    POS_LCDMI = 4,
    POS_MICROLYNX = 5,
    POS_ZENCODER = 6,
    POS_USDED2 = 7,
    POS_VMI501 = 8,
    POS_METRONICS = 9,
    POS_MPXVMI501 = 10,
    POS_RENISHAW_STEPNET = 11,
    POS_STEPNET = 12,
};

// Sizes of the record's fixed tables.
inline constexpr int sb_max_mags = 15;  // NomMag, SysMag, Camera Trans, Fenn tables, SdcCal
inline constexpr int sb_max_bad_pixels = 40;
inline constexpr int sb_max_camera_files = 6;
inline constexpr int sb_max_wavelengths = 4;
inline constexpr int sb_max_fenn_values = 10;
inline constexpr int sb_pid_axis_count = 8;  // axes A, B, P, R, T, X, Y, Z
inline constexpr char sb_pid_axis_letters[sb_pid_axis_count + 1] = "ABPRTXYZ";

// The largest single-precision value: marks unset SdcCal and Fenn table entries.
inline constexpr double sb_unset = 3.4028234663852886e38;

// The ramp configuration file name used when the file names none; shared by every
// record and never freed.
extern const char sb_default_ramp_config[];

// CAN configuration record: created zero-filled with the initial values below by
// the calibration reader when the file configures a CAN bridge (MacAddress), owned
// by the record, freed by sb_setDefaults or by the CAN power-off.
struct can_config {
    uint8_t ip[4];     // bridge IPv4 address, byte 0 printed first; ip[0] 255 until found
    uint8_t mac[6];    // bridge MAC address; mac[0] 255 means not configured
    uint8_t fw_major;  // bridge firmware version
    uint8_t fw_minor;
    int32_t zoom_codes[7];     // -2: no position
    int32_t led_product_id;    // -1 until read
    int32_t brush_product_id;  // -1 until read
    uint8_t keypress_rs;
    uint8_t keypress_zoom;
    uint8_t keypress_focus;
};

// Fills a new CAN configuration record with its initial values.
inline void can_config_init(can_config* c) {
    *c = can_config{};
    c->ip[0] = 255;
    for (int32_t& code : c->zoom_codes)
        code = -2;
    c->led_product_id = -1;
    c->brush_product_id = -1;
}

// Scanner record (Pifoc, PztId, PifocType). Pifoc and PztId both set the serial:
// the serial of the PIFOC on PIFOC systems, of the PZT where PztId names it.
struct sb_pifoc {
    int32_t serial = 0;
    int32_t type = 0;  // PifocType 0..2; 1 and 2 are scanner controllers with stored profiles
    double k = 0.928655;
    double beta = 0.0144;
};

struct sb_bad_pixel {
    int32_t x;
    int32_t y;
};

struct sb_camera {
    int32_t type = CAM_UNKNOWN;  // camera_type
    // CUSTOM camera settings: Tarn and Brae use c[0] and c[8] (the field control),
    // SableQv and Fenn use c[1]..c[8].
    int32_t interlaceFlag = 0;
    int32_t c[9] = {};
    char* files[sb_max_camera_files] = {};  // Camera File names; empty entries are null
    int32_t dark = 0;
    int32_t align = ALIGN_DEFAULT;  // camera_align
    sb_bad_pixel badPixels[sb_max_bad_pixels] = {};
    int32_t badPixelCount = 0;
    int32_t bpixFlag = 0;      // 1: bad pixels come from the bad-pixel file
    char* bpixFile = nullptr;  // Camera Bpix file name
    uint32_t options = 0;
    int32_t pll = 1;
    int32_t splitDir = 0;  // 0 none, 1 SplitX, 2 SplitY
    int32_t splitLoc = 0;
    int32_t splitValue = 0;
    int32_t trans[sb_max_mags][2] = {};  // Camera Trans x, y per magnification index
};

struct sb_light {
    int32_t type = LIGHT_HENE;                            // light_type
    double wavelength[sb_max_wavelengths] = {0.6328e-6};  // metres
    double bandwidth[sb_max_wavelengths] = {};            // metres
};

struct sb_llc {
    double alignModePct[2] = {100.0, 100.0};
    int32_t avgCurLimit[4] = {};
    int32_t fwdVoltage[4] = {};
    uint8_t config[2] = {1, 0};
    int32_t freq[2] = {35000, 35000};
    int32_t instr = LLC_NONE;  // llc_instr
    char* port = nullptr;      // LLC instrument port
    uint32_t options = 0;
    int32_t range[4] = {};  // low, high, second low, second high
    int32_t target = 150;
};

struct sb_scanner {
    sb_pifoc* pifoc = nullptr;
    int32_t pifocPolarity = 0;  // -1, 0, 1
    int32_t pztpwr = -1;        // -1: not set
    int32_t adcClock = 0;
    double scanCal[2] = {1.0, 1.0};
};

struct sb_mags {
    double nom[sb_max_mags] = {};
    double sys[sb_max_mags] = {};
    int32_t count = 0;     // magnification count: values of the last NomMag/SysMag statement
    int32_t nomCount = 0;  // values of the last NomMag statement
    int32_t sysCount = 0;  // values of the last SysMag statement
};

struct sb_pid_set {
    int32_t i[6];
    double r[4];
};
inline constexpr sb_pid_set sb_default_pid_set = {{700, 0, 15050, 0, 0, 0}, {0, 0, 0, 0}};

struct sb_pid_axis {
    sb_pid_set fast = sb_default_pid_set;
    sb_pid_set slow = sb_default_pid_set;
};

// EncodedRadiusScale and IntfRadiusScale.
struct sb_radius_scale {
    int32_t given = 0;
    int32_t flag = 0;
    double a = 0;
    double b = 0;
    int32_t n = 0;
    double c = 0;
};

struct sb_motion {
    int32_t turret[2] = {0, 5};
    int32_t zoom = 0;             // 2: motorized zoom
    char* motionCtrl[2] = {};     // controller name, parameter text
    int32_t posInstr = POS_NONE;  // pos_instr
    char* posPort = nullptr;
    char* posText = nullptr;
    int32_t tempSensor = TEMP_NONE;  // temp_sensor
    char* tempPort = nullptr;
    char* pendentMenu = nullptr;
    char* axisComp[sb_pid_axis_count] = {};  // by sb_pid_axis_letters
    sb_pid_axis* pid[sb_pid_axis_count] = {};
    float xAxisBacklash = 0;
    float yAxisBacklash = 0;
    double zAxisBacklash = 5.0;
    double zAxisCal = 1.0;
    int32_t zEncoder = 0;
    int32_t zCanClosedLoop = 0;
    double diffdiskrate = -1.0;  // -1: not set
    double diffdiskfraction = 0.85;
};

// Devices that are present unless the file says Ignore...
struct sb_devices {
    int32_t dualBrushMotor = 1;
    int32_t focusNDW = 1;
    int32_t laps = 1;
    int32_t pzt = 1;
    int32_t wand = 1;
    int32_t zoom = 1;
};

struct sb_wave_monitor {
    char* comm = nullptr;
    float sysGain = 0;
    double monOPD = 0;
    double tuneRange[2] = {std::numeric_limits<double>::infinity(), 0};  // kept x 1e9
    double tuneRate[2] = {std::numeric_limits<double>::infinity(), 0};   // kept x 1e9
    int32_t maxBuckets = 0;
    int64_t memLimit = 0;  // bytes
    int32_t absWaveMeter = 0;
    char* absWaveMeterPort = nullptr;
    int32_t fennsiInvertData = 0;
};

struct sb_dyn_wave_gen {
    int32_t value[3];  // the three DynWaveGen values
};

// Encoded zoom (Tarn).
struct sb_enc_zoom {
    int32_t config = 0;
    int32_t backlash = 0;
    int32_t progLim[2] = {};
    int32_t wandLim[2] = {};
    double stdMags[sb_max_mags] = {};
    int32_t stdMagCount = 0;
    char* calFile = nullptr;
};

// Fenn system constants and tables; unset table entries hold sb_unset.
struct sb_fenn {
    char* materials = nullptr;
    double sys[4] = {};
    double dmiScale = 0;
    double imageRot = 0;
    double zeroPtPos[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
    double disper[sb_max_mags][sb_max_fenn_values];
    double avgK0[sb_max_mags][sb_max_fenn_values];
    double dmiCenter[sb_max_mags][2] = {};
    double tiltCenter[sb_max_mags][2] = {};
    int32_t zeroGagePer = 0;     // seconds
    int32_t temperaturePer = 0;  // seconds
    double temperatureTol = 0;
    char* logFile = nullptr;
    int32_t logSettings[2] = {1000000, 500000};
    sb_fenn() {
        for (auto& row : disper)
            for (double& v : row)
                v = sb_unset;
        for (auto& row : avgK0)
            for (double& v : row)
                v = sb_unset;
    }
};

struct sb_sdc_cal {
    double s[8] = {sb_unset, sb_unset, sb_unset, sb_unset, sb_unset, sb_unset, 0, 0};
};

struct sysInfo {
    int32_t slot;         // 0..3, the record's own slot number
    int32_t sysType;      // system type, 0..36 (sys_type)
    int32_t boardType;    // instr_board
    can_config* canInfo;  // null unless the file configures the CAN bus (MacAddress)

    // Kept by sb_setDefaults: the digit of the slot's default file name (the slot
    // number unless a host changes it) and the path of the last file read.
    int32_t calFileNum = -1;  // -1: the slot number
    char* calFilePath = nullptr;
    // A low-level handle (a C runtime file descriptor) a host may hold open on the
    // calibration file; 0 = none. sb_writeCal closes and clears it before writing.
    intptr_t calFileHandle = 0;

    // Identity and instrument board.
    char* instrName = nullptr;
    int32_t unit = 0;
    int32_t dateCode = 0;   // year x 100 + week
    int32_t serialNum = 0;  // system serial number (also the PZT serial of PMI ramps)
    int32_t rFlag = 0;
    int32_t frameGrabber = FG_NONE;  // frame_grabber
    int32_t versionNum = 0;          // Version number, kept in 8 bits
    char* instrComm = nullptr;       // instrument board port
    int32_t invertData = 0;
    const char* rampConfig = sb_default_ramp_config;

    sb_camera camera;
    sb_light light;
    sb_llc llc;
    sb_scanner scanner;
    sb_mags mag;
    sb_motion motion;
    sb_devices present;
    int32_t ringSpot = 0;
    int32_t noIntensAvg = 0;
    int32_t touchScreen = 0;
    sb_sdc_cal sdcCal[sb_max_mags];
    double radCrvFocCal = 1.0;
    double radCrvPwrCal = 1.0;
    sb_radius_scale encodedRadiusScale;
    sb_radius_scale intfRadiusScale;
    uint16_t sleepTimeout = 14400;  // seconds
    sb_wave_monitor wm;
    sb_dyn_wave_gen* dynWaveGen = nullptr;
    sb_enc_zoom* encZoom = nullptr;
    sb_fenn* fenn = nullptr;
};

// The record of a slot (0..3), or null for any other number. Records live for the
// life of the process and hold their defaults until the first read.
sysInfo* sb_slot(int slot);

// Resets every value of the record to its default and releases its texts and
// sub-records; keeps the slot number, the file number and the last path read.
void sb_setDefaults(sysInfo* si);

// Reads a calibration source into a slot: "" or null reads the slot's default
// file, "+DEFAULTS" resets the slot, "+statement" applies one statement, anything
// else is a file name. 0 or an error code; diagnostics go to the message sink.
// Not safe for concurrent calls.
int32_t sb_readCal(int slot, const char* source);

// True when the instrument has the dual brush motor board: only on a CAN board, always
// for ScarpSableICO and ScarpSableQvICO, for the Loom types unless
// IgnoreDualBrushMotor was given.
bool sb_has_dual_brush_motor(const sysInfo* si);

// The process-wide name set by the Remote statement, or null.
const char* sb_remote_name();

}  // namespace mf
