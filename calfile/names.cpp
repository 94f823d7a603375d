#include "calfile/names.h"

#include <iterator>

namespace mf {

const char* const sb_sys_type_names[37] = {
    "Unknown",   "Holm",     "Scarp",    "ScarpNT",       "Tarn",       "ScarpSable",      "ScarpQv",    "ScarpSableQv",
    "HolmTarn",  "Drumlin",  "ScarpVS",  "ScarpSableICO", "ScarpQvICO", "ScarpSableQvICO", "Cairn",      "Brae",
    "Fenn",      "Rillet",   "Esker",    "Skerry",        "ScarpDelta", "Kame250",         "LoomA",      "TarnCan",
    "HolmFP",    "HolmPH",   "EskerCan", "WsTarn",        "LoomAS",     "LoomAP",          "Skerry_CAN", "LoomB",
    "WsTarnCan", "Brae_CAN", "LoomBS",   "LoomBP",        "",
};
const char* const sb_board_names[10] = {"None",  "SableQv", "Knap", "Tarn", "Heugh",
                                        "Cairn", "Brae",    "Fenn", "CAN",  "NOTNEEDED"};
const char* const sb_frame_grabber_names[13] = {"None",   "RPC",     "Matrox",   "Pulsar",     "Genesis",
                                                "Corona", "Bandit",  "FireWire", "CameraLink", "FlashBus",
                                                "GigE",   "X64LVDS", "PC2Vision"};
const char* const sb_camera_names[33] = {
    "Unknown",    "XC77CE",    "P62505",     "CID2220", "VIDICON", "EEV1715A", "TM6705",    "XC7500", "XC7500S",
    "SMD4M15",    "INFRACAMA", "CID2250",    "CUSTOM",  "TM6710",  "SIM200",   "BASLER",    "SU320",  "DGFLY640",
    "DGFLY1024",  "IMPERXVGA", "ADIMEC1000", "A311F",   "A312F",   "TM6740",   "DGFLY6200", "SCA640", "ADIMEC4050",
    "ADIMEC4150", "PIA640",    "E2V7899",    "PIA1000", "SCA640G", "A504K",
};
const char* const sb_align_names[3] = {"Default", "Center", "TopLeft"};
const char* const sb_light_names[6] = {"Unknown", "HeNe", "Diode", "White", "Special", "LED"};
const char* const sb_llc_instr_names[4] = {"None", "DD100MC", "DD100MC_B", "CAIRN"};
const char* const sb_temp_sensor_names[2] = {"None", "Euro2216e"};
const char* const sb_pos_instr_names[13] = {"None",   "Quoin",     "VMI",       "Heid",
                                            "LCDMI",  "MicroLYNX", "ZEncoder",  "USDED2",
                                            "VMI501", "METRONICS", "MPXVMI501", "Renishaw_StepNet",
                                            "StepNet"};

namespace {

struct name_key {
    sb_token token;
    int32_t number;
};

constexpr name_key sys_type_keys[] = {
    {TK_TARN, 4},       {TK_SCARPSABLE, 5},     {TK_SCARPQV, 6},     {TK_SCARPSABLEQV, 7},     {TK_HOLMTARN, 8},
    {TK_SCARPVS, 10},   {TK_SCARPSABLEICO, 11}, {TK_SCARPQVICO, 12}, {TK_SCARPSABLEQVICO, 13}, {TK_CAIRN, 14},
    {TK_WOLD, 14},      {TK_BRAE, 15},          {TK_FENN, 16},       {TK_RILLET, 17},          {TK_ESKER, 18},
    {TK_SKERRY, 19},    {TK_FENNSI, 19},        {TK_SCARPDELTA, 20}, {TK_KAME250, 21},         {TK_STOB, 21},
    {TK_LOOMA, 22},     {TK_TARNCAN, 23},       {TK_HOLMFP, 24},     {TK_HOLMPH, 25},          {TK_ESKERCAN, 26},
    {TK_WSTARN, 27},    {TK_LOOMAS, 28},        {TK_LOOMAP, 29},     {TK_SKERRY_CAN, 30},      {TK_LOOMB, 31},
    {TK_WSTARNCAN, 32}, {TK_BRAE_CAN, 33},      {TK_LOOMBS, 34},     {TK_LOOMBP, 35},          {TK_SPECIAL, 36},
};
constexpr name_key board_keys[] = {
    {TK_NONE, 0}, {TK_SABLEQV, 1}, {TK_TARN, 3}, {TK_CAIRN, 5},     {TK_WOLD, 5},
    {TK_BRAE, 6}, {TK_FENN, 7},    {TK_CAN, 8},  {TK_NOTNEEDED, 9},
};
constexpr name_key frame_grabber_keys[] = {
    {TK_NONE, 0},   {TK_RPC, 1},      {TK_MATROX, 2},     {TK_PULSAR, 3},     {TK_GENESIS, 4},
    {TK_CORONA, 5}, {TK_BANDIT, 6},   {TK_FIREWIRE, 7},   {TK_CAMERALINK, 8}, {TK_FLASHBUS, 9},
    {TK_GIGE, 10},  {TK_X64LVDS, 11}, {TK_PC2VISION, 12},
};
constexpr name_key camera_keys[] = {
    {TK_UNKNOWN, 0},     {TK_XC77, 1},        {TK_XC77CE, 1},      {TK_P62505, 2},     {TK_CID2220, 3},
    {TK_VIDICON, 4},     {TK_EEV1715A, 5},    {TK_TM6705, 6},      {TK_XC7500, 7},     {TK_XC7500S, 8},
    {TK_SMD4M15, 9},     {TK_CID2250, 11},    {TK_CUSTOM, 12},     {TK_TM6710, 13},    {TK_SIM200, 14},
    {TK_BASLER, 15},     {TK_SU320, 16},      {TK_DGFLY640, 17},   {TK_DGFLY1024, 18}, {TK_IMPERXVGA, 19},
    {TK_ADIMEC1000, 20}, {TK_A311F, 21},      {TK_A312F, 22},      {TK_TM6740, 23},    {TK_DGFLY6200, 24},
    {TK_SCA640, 25},     {TK_ADIMEC4050, 26}, {TK_ADIMEC4150, 27}, {TK_PIA640, 28},    {TK_E2V7899, 29},
    {TK_PIA1000, 30},    {TK_SCA640G, 31},    {TK_A504K, 32},
};
constexpr name_key align_keys[] = {{TK_DEFAULT, 0}, {TK_CENTER, 1}, {TK_TOPLEFT, 2}};
constexpr name_key light_keys[] = {{TK_UNKNOWN, 0}, {TK_HENE, 1},    {TK_DIODE, 2},
                                   {TK_WHITE, 3},   {TK_SPECIAL, 4}, {TK_LED, 5}};
constexpr name_key llc_instr_keys[] = {{TK_NONE, 0}, {TK_DD100MC, 1}, {TK_DD100MC_B, 2}, {TK_CAIRN, 3}};
constexpr name_key temp_sensor_keys[] = {{TK_NONE, 0}, {TK_EURO2216E, 1}};
constexpr name_key pos_instr_keys[] = {
    {TK_NONE, 0},     {TK_QUOIN, 1},  {TK_VMI, 2},    {TK_HEID, 3},      {TK_LCDMI, 4},      {TK_MICROLYNX, 5},
    {TK_ZENCODER, 6}, {TK_USDED2, 7}, {TK_VMI501, 8}, {TK_METRONICS, 9}, {TK_MPXVMI501, 10}, {TK_RENISHAW_STEPNET, 11},
    {TK_STEPNET, 12},
};

template <std::size_t N>
int32_t find(const name_key (&keys)[N], sb_token token) {
    for (const name_key& key : keys)
        if (key.token == token) return key.number;
    return -1;
}

}  // namespace

int32_t sb_name_number(sb_names table, sb_token token) {
    switch (table) {
    case sb_names::sys_type:
        return find(sys_type_keys, token);
    case sb_names::board:
        return find(board_keys, token);
    case sb_names::frame_grabber:
        return find(frame_grabber_keys, token);
    case sb_names::camera:
        return find(camera_keys, token);
    case sb_names::align:
        return find(align_keys, token);
    case sb_names::light:
        return find(light_keys, token);
    case sb_names::llc_instr:
        return find(llc_instr_keys, token);
    case sb_names::temp_sensor:
        return find(temp_sensor_keys, token);
    case sb_names::pos_instr:
        return find(pos_instr_keys, token);
    }
    return -1;
}

}  // namespace mf
