// The virtual camera: a frame source for light-level control whose picture is a fixed
// scene (bright discs over a graded background, with noise) lit through the virtual
// CAN instrument's ND wheel. The light grows with the square of the wheel's raw level
// (0 dark, 65535 all the light) and the picture saturates at full scale, so the loop
// runs closed against the virtual nodes. Lost frames, failed grabs and copies and a
// grab that never returns are chosen by the test.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "can/llc/agc_host.h"

namespace mf::sim {

class virtual_camera {
public:
    struct options {
        agc_camera camera{128, 96, 1, 1, 8, false, 25};
        // Full scale is reached by the background at this many times the wheel's
        // whole light; the discs are four times brighter.
        double gain = 0.75;
        uint32_t seed = 1;
    };
    explicit virtual_camera(const options& o);
    virtual_camera(const virtual_camera&) = delete;
    virtual_camera& operator=(const virtual_camera&) = delete;

    // The source to install; it refers to this camera.
    agc_frame_source source();

    // From frame number `frame` (1-based) on the scene is lit with `gain`.
    void set_gain_from(int64_t frame, double gain);
    // Grab (or copy) number first .. first + count - 1 fails with `error`; the frame
    // still counts (ERR_LOST_FRAME: the frame was missed).
    void fail_grabs(int64_t first, int64_t count, int32_t error);
    void fail_copies(int64_t first, int64_t count, int32_t error);
    // Grabs wait, in real time, until released.
    void block_grabs();
    void release_grabs();
    // Waits (real time) until a grab is blocked; false after timeout_ms.
    bool wait_blocked(int64_t timeout_ms);

    struct frame_record {
        int64_t number;   // 1-based
        int64_t time_ms;  // platform clock when it was taken
        uint16_t wheel;   // the wheel's raw level then
        double gain;
    };
    std::vector<frame_record> frames() const;
    // Waits (real time) until `count` frames were taken; false after timeout_ms.
    bool wait_frames(int64_t count, int64_t timeout_ms) const;

    // The picture at a wheel level and gain, noise of frame `number` included; the
    // size the source copies.
    std::vector<uint8_t> render(uint16_t wheel, double gain, int64_t number) const;
    size_t frame_bytes() const;

private:
    static int32_t camera_op(void* self, agc_camera* camera);
    static int32_t grab_op(void* self);
    static int32_t copy_op(void* self, void* pixels, size_t size);
    int32_t grab();
    int32_t copy(void* pixels, size_t size);
    // Takes a frame at the current wheel level into frame_; lock_ held.
    void take();
    static int32_t fault(const std::map<int64_t, int32_t>& faults, int64_t n);

    const options options_;
    std::vector<uint16_t> scene_;  // per pixel, in thousandths of the background's full light
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<uint8_t> frame_;
    std::vector<frame_record> log_;
    std::map<int64_t, double> gains_;
    std::map<int64_t, int32_t> grab_faults_, copy_faults_;
    int64_t grabs_ = 0, copies_ = 0;
    bool blocking_ = false;
    bool blocked_ = false;
};

}  // namespace mf::sim
