// What light-level control needs from the host: frames from its acquisition manager
// and the few instrument settings the library does not keep itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mf {

// The camera as the acquisition manager runs it.
struct agc_camera {
    int32_t width = 0;  // sensor pixels; the image is width/decimation x height/decimation
    int32_t height = 0;
    int32_t decimation = 1;
    int32_t bytes_per_pixel = 1;  // 1 or 2
    int32_t bits = 8;             // significant bits per pixel, 1..16
    bool live = false;            // live frame-buffer mode: a current frame is always there
    double frame_rate = 0;        // frames per second; 0 when not known
};

// One frame at a time. Every operation returns 0 or an error code; ERR_LOST_FRAME
// tells that a frame was missed. The source and its context outlive every thread
// that uses them (install it before the first start, keep it until shutdown).
struct agc_frame_source {
    void* context = nullptr;
    // The camera's geometry and mode, read once when the thread starts.
    int32_t (*camera)(void* context, agc_camera* camera) = nullptr;
    // Grabs one frame (not used in live mode).
    int32_t (*grab)(void* context) = nullptr;
    // Copies the current frame: height/decimation rows of width/decimation pixels of
    // bytes_per_pixel bytes each (2-byte pixels in the machine's order), size bytes.
    int32_t (*copy)(void* context, void* pixels, size_t size) = nullptr;
};

// Installs the frame source (null: none; the thread then ends at once with
// ERR_INTERNAL_HX).
void can_agc_set_frame_source(const agc_frame_source* source);

// Light-path positions for the instrument families other than the one with the
// auxiliary motor: in the viewing position the camera does not see the light the ND
// wheel sets, so light-level control does not start.
enum agc_light_path : int32_t { AGC_PATH_VIEWING = 0, AGC_PATH_CAMERA = 1 };

// The host's settings for the current light source.
struct can_agc_settings {
    bool enabled = true;                   // the light-level control enabled setting
    int32_t light_path = AGC_PATH_CAMERA;  // agc_light_path
    int32_t target = -1;                   // 0..255; -1: the calibration's LLC Target
    uint16_t level = 0;                    // the light source's level; can_agc_stop stores the
                                           // ND wheel's level here
};

void can_agc_set_settings(const can_agc_settings& settings);
can_agc_settings can_agc_get_settings();

}  // namespace mf
