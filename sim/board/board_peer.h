// A virtual instrument board of one of the four serial families. It speaks the
// board protocol from the board's side: it frames the host's packets (dropping
// one left unfinished for more than 100 ms), refuses (negative acknowledge) a bad
// checksum, an unknown code or a length byte that is not the table's, answers
// every command of its family's table with a reply of the table's length, keeps
// the state the ramp commands need, sends reports of its own when told to, and
// misbehaves on request.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "serial/board/ur_commands.h"
#include "sim/serial/peer.h"

namespace mf::sim {

class BoardPeer : public SerialPeer {
public:
    enum class Fault {
        none,
        nak,             // a negative acknowledge instead of the answer
        bad_checksum,    // the answer with its checksum byte wrong
        wrong_code,      // the answer with another reply code (checksum right)
        silence,         // no answer at all
        short_reply,     // the length byte and only part of what it promises
        zero_length,     // a lone length byte of 0
        top_bit_length,  // the answer with the top bit of its length byte set
    };

    explicit BoardPeer(ur_family family);

    ur_family family() const { return family_; }

    // The next `times` answers carry the fault.
    void inject(Fault fault, int times = 1);
    // `count` reports (100 + a reporting command's code, one data byte) go out
    // before each of the next `times` answers.
    void reports_before_answer(int32_t report_code, int count, int times = 1);
    // A report sent on the board's own, delay_ms from when the line next looks.
    void send_report(int32_t report_code, uint8_t value, int64_t delay_ms = 0);
    // Every answer goes out this long after the packet that caused it.
    void set_reply_delay_ms(int64_t ms);
    // The data bytes (between reply code and checksum) a command's data reply
    // carries; cut or padded with zeros to the table's length.
    void set_reply_data(int32_t code, const std::vector<uint8_t>& data);
    // How long a started ramp runs before the board is idle again (clock service);
    // below 0 (the default), the slot's own ramp runs its points at the board's
    // clock: nPoints x (65536 - updateRate) / 4000 ms.
    void set_ramp_run_ms(int64_t ms);
    // The n-th ramp data packet after a ramp load (counted from 1) is refused with
    // the verdict (1 bad sum, 2 no load, 3 too many points) in the reply's data byte;
    // once.
    void refuse_points_packet(int n, uint8_t verdict);
    // The answer to the n-th ramp data packet after a ramp load, and the times - 1
    // answers after it, carry the fault (silence with a large count: the link is
    // gone); once.
    void fault_at_points_packet(int n, Fault fault, int times = 1);

    // The rampID held in each slot (255: empty): 12 slots on UZ1 and Fenn, 4 on
    // UZ2 and Brae.
    std::vector<uint8_t> slots() const;
    bool idle() const;
    // Points of the load in progress (or the last one) and their running sum.
    std::vector<uint16_t> ramp_points() const;
    uint8_t ramp_point_sum() const;
    uint16_t update_rate(int slot) const;
    // The points a completed load left in a slot (empty for an empty slot).
    std::vector<uint16_t> slot_points(int slot) const;
    // The slot of the ramp started last, -1 before any start.
    int started_slot() const;
    // Every byte the board received and sent, in order.
    std::vector<uint8_t> received() const;
    std::vector<uint8_t> transmitted() const;
    // The codes of the packets the board took (refused ones not included).
    std::vector<int32_t> commands() const;

    // A report packet of this family: length byte, code, value, checksum.
    static std::vector<uint8_t> report_packet(int32_t report_code, uint8_t value);

    void receive(const uint8_t* data, std::size_t count, std::vector<PeerOutput>& out) override;
    void speak(std::vector<PeerOutput>& out) override;

private:
    struct Load {
        bool active = false;
        int slot = 0;
        uint8_t ramp_id = 0;
        uint16_t points = 0;
        uint16_t rate = 0;
    };

    void take_packet(std::vector<PeerOutput>& out);
    void take_ramp_points(std::vector<PeerOutput>& out);
    // The answer to a well-formed packet; empty for a refused one (then a NAK).
    std::vector<uint8_t> answer(const ur_command& cmd, const uint8_t* params);
    std::vector<uint8_t> data_reply(const ur_command& cmd, int32_t reply_code, std::vector<uint8_t> data) const;
    void emit(std::vector<uint8_t> answer, std::vector<PeerOutput>& out);
    int32_t code_named(const char* suffix) const;

    mutable std::mutex lock_;
    ur_family family_;
    std::vector<uint8_t> partial_;
    int64_t last_byte_ms_ = 0;
    std::size_t raw_expected_ = 0;  // ramp point bytes still to come after a data header
    uint16_t raw_count_ = 0;
    std::vector<uint8_t> received_;
    std::vector<uint8_t> transmitted_;
    std::vector<int32_t> commands_;
    std::vector<PeerOutput> spoken_;

    Fault fault_ = Fault::none;
    int fault_times_ = 0;
    int32_t report_code_ = 0;
    int report_count_ = 0;
    int report_times_ = 0;
    int64_t reply_delay_ms_ = 0;
    std::map<int32_t, std::vector<uint8_t>> reply_data_;

    std::vector<uint8_t> slots_;
    std::vector<uint16_t> rates_;
    std::vector<std::vector<uint16_t>> slot_points_;
    Load load_;
    std::vector<uint16_t> points_;
    uint8_t point_sum_ = 0;
    int points_packets_ = 0;  // ramp data packets since the last load
    int refuse_packet_ = 0;
    uint8_t refuse_verdict_ = 0;
    int fault_packet_ = 0;
    Fault packet_fault_ = Fault::none;
    int packet_fault_times_ = 0;
    int started_slot_ = -1;
    int64_t ramp_run_ms_ = -1;
    int64_t ramp_end_ = 0;
    bool running_ = false;

    // This family's ramp command codes (-1: the family has none).
    int32_t load_code_, data_code_, complete_code_, abort_code_, delete_code_, start_code_, idle_code_, request_code_,
        rate_code_;
};

}  // namespace mf::sim
