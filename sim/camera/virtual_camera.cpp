#include "sim/camera/virtual_camera.h"

#include <chrono>
#include <cstring>

#include "common/error_codes.h"
#include "platform/clock.h"
#include "sim/can/can_sim.h"

namespace mf::sim {

namespace {

// Discs (centre and radius as fractions of the width and height, brightness in
// thousandths) over a background that grows from left to right.
struct disc {
    double x, y, r;
    uint16_t level;
};
constexpr disc discs[] = {{0.25, 0.3, 0.08, 4000}, {0.7, 0.35, 0.07, 3600}, {0.5, 0.75, 0.09, 3800}};

// A small generator of the noise, the same on every system.
uint32_t next_noise(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 16;
}

}  // namespace

virtual_camera::virtual_camera(const options& o) : options_(o) {
    const agc_camera& c = o.camera;
    const int32_t w = c.width / c.decimation, h = c.height / c.decimation;
    scene_.resize(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint16_t v = static_cast<uint16_t>(800 + 400 * x / w);
            for (const disc& d : discs) {
                const double dx = (x + 0.5) / w - d.x, dy = ((y + 0.5) / h - d.y) * h / w;
                if (dx * dx + dy * dy <= d.r * d.r) v = d.level;
            }
            scene_[static_cast<size_t>(y) * w + x] = v;
        }
    gains_[1] = o.gain;
}

size_t virtual_camera::frame_bytes() const { return scene_.size() * options_.camera.bytes_per_pixel; }

std::vector<uint8_t> virtual_camera::render(uint16_t wheel, double gain, int64_t number) const {
    const agc_camera& c = options_.camera;
    const double full = static_cast<double>((uint32_t{1} << c.bits) - 1);
    const double light = (wheel / 65535.0) * (wheel / 65535.0) * gain * full / 1000;
    const double noise_span = full / 128;  // about two counts of eight bits, peak to peak
    uint32_t state = options_.seed ^ static_cast<uint32_t>(number * 2654435761u);
    std::vector<uint8_t> out(frame_bytes());
    for (size_t i = 0; i < scene_.size(); ++i) {
        const double noise = (next_noise(state) % 1001 / 1000.0 - 0.5) * noise_span;
        double v = scene_[i] * light + noise + 0.5;
        v = v < 0 ? 0 : v > full ? full : v;
        const auto p = static_cast<uint16_t>(v);
        if (c.bytes_per_pixel == 2)
            std::memcpy(&out[2 * i], &p, 2);
        else
            out[i] = static_cast<uint8_t>(p);
    }
    return out;
}

void virtual_camera::take() {
    can_sim::instance().tick();
    const int64_t number = static_cast<int64_t>(log_.size()) + 1;
    const double gain = std::prev(gains_.upper_bound(number))->second;
    const uint16_t wheel = can_sim::instance().ndw_level();
    frame_ = render(wheel, gain, number);
    log_.push_back({number, platform::monotonic_ms(), wheel, gain});
    changed_.notify_all();
}

int32_t virtual_camera::fault(const std::map<int64_t, int32_t>& faults, int64_t n) {
    auto f = faults.find(n);
    return f == faults.end() ? 0 : f->second;
}

int32_t virtual_camera::grab() {
    std::unique_lock<std::mutex> hold(lock_);
    if (blocking_) {
        blocked_ = true;
        changed_.notify_all();
        changed_.wait(hold, [this] { return !blocking_; });
        blocked_ = false;
    }
    const int64_t n = ++grabs_;
    hold.unlock();
    // A grab waits for the next frame.
    if (options_.camera.frame_rate > 0) platform::sleep_ms(static_cast<int64_t>(1000 / options_.camera.frame_rate));
    hold.lock();
    take();
    return fault(grab_faults_, n);
}

int32_t virtual_camera::copy(void* pixels, size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    const int64_t n = ++copies_;
    if (options_.camera.live) take();
    if (int32_t err = fault(copy_faults_, n)) return err;
    if (size != frame_.size() || frame_.empty()) return ERR_INVALID_PARAM;
    std::memcpy(pixels, frame_.data(), size);
    return 0;
}

int32_t virtual_camera::camera_op(void* self, agc_camera* camera) {
    *camera = static_cast<virtual_camera*>(self)->options_.camera;
    return 0;
}
int32_t virtual_camera::grab_op(void* self) { return static_cast<virtual_camera*>(self)->grab(); }
int32_t virtual_camera::copy_op(void* self, void* pixels, size_t size) {
    return static_cast<virtual_camera*>(self)->copy(pixels, size);
}

agc_frame_source virtual_camera::source() { return {this, &camera_op, &grab_op, &copy_op}; }

void virtual_camera::set_gain_from(int64_t frame, double gain) {
    std::lock_guard<std::mutex> hold(lock_);
    gains_[frame] = gain;
}

void virtual_camera::fail_grabs(int64_t first, int64_t count, int32_t error) {
    std::lock_guard<std::mutex> hold(lock_);
    for (int64_t n = first; n < first + count; ++n)
        grab_faults_[n] = error;
}

void virtual_camera::fail_copies(int64_t first, int64_t count, int32_t error) {
    std::lock_guard<std::mutex> hold(lock_);
    for (int64_t n = first; n < first + count; ++n)
        copy_faults_[n] = error;
}

void virtual_camera::block_grabs() {
    std::lock_guard<std::mutex> hold(lock_);
    blocking_ = true;
}

void virtual_camera::release_grabs() {
    std::lock_guard<std::mutex> hold(lock_);
    blocking_ = false;
    changed_.notify_all();
}

bool virtual_camera::wait_blocked(int64_t timeout_ms) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [this] { return blocked_; });
}

std::vector<virtual_camera::frame_record> virtual_camera::frames() const {
    std::lock_guard<std::mutex> hold(lock_);
    return log_;
}

bool virtual_camera::wait_frames(int64_t count, int64_t timeout_ms) const {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                             [&] { return static_cast<int64_t>(log_.size()) >= count; });
}

}  // namespace mf::sim
