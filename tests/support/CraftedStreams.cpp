#include "tests/support/CraftedStreams.h"

namespace kavrel::test {
namespace {

// Writes RBSP bits most significant first, with Exp-Golomb codes.
class BitWriter {
  public:
    void Bits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            Bit((value >> i) & 1);
    }
    void Ue(uint32_t value) {
        const uint32_t coded = value + 1;
        int length = 0;
        while ((coded >> length) > 1)
            ++length;
        Bits(0, length);
        Bits(coded, length + 1);
    }
    void Se(int32_t value) { Ue(value > 0 ? uint32_t(2 * value - 1) : uint32_t(-2 * value)); }
    // rbsp_trailing_bits: a one, then zeros up to the byte boundary.
    std::vector<uint8_t> Finish() {
        Bit(1);
        while (m_used != 0)
            Bit(0);
        return m_bytes;
    }

  private:
    void Bit(uint32_t bit) {
        if (m_used == 0)
            m_bytes.push_back(0);
        m_bytes.back() |= uint8_t(bit << (7 - m_used));
        m_used = (m_used + 1) % 8;
    }
    std::vector<uint8_t> m_bytes;
    int m_used = 0;
};

// Start code, header byte and the payload with emulation prevention bytes.
void AppendNal(std::vector<uint8_t>& out, uint8_t header, const std::vector<uint8_t>& rbsp) {
    out.insert(out.end(), {0, 0, 0, 1, header});
    int zeros = 0;
    for (uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
}

}  // namespace

std::vector<uint8_t> OversizedH264KeyFrame(int widthInMacroblocks, int heightInMacroblocks) {
    std::vector<uint8_t> frame;

    BitWriter sps;
    sps.Bits(66, 8);  // profile_idc: baseline
    sps.Bits(0, 8);   // constraint flags, reserved
    sps.Bits(51, 8);  // level_idc
    sps.Ue(0);        // seq_parameter_set_id
    sps.Ue(0);        // log2_max_frame_num_minus4
    sps.Ue(2);        // pic_order_cnt_type
    sps.Ue(1);        // max_num_ref_frames
    sps.Bits(0, 1);   // gaps_in_frame_num_value_allowed_flag
    sps.Ue(uint32_t(widthInMacroblocks - 1));
    sps.Ue(uint32_t(heightInMacroblocks - 1));
    sps.Bits(1, 1);  // frame_mbs_only_flag
    sps.Bits(1, 1);  // direct_8x8_inference_flag
    sps.Bits(0, 1);  // frame_cropping_flag
    sps.Bits(0, 1);  // vui_parameters_present_flag
    AppendNal(frame, 0x67, sps.Finish());

    BitWriter pps;
    pps.Ue(0);       // pic_parameter_set_id
    pps.Ue(0);       // seq_parameter_set_id
    pps.Bits(0, 1);  // entropy_coding_mode_flag: CAVLC
    pps.Bits(0, 1);  // bottom_field_pic_order_in_frame_present_flag
    pps.Ue(0);       // num_slice_groups_minus1
    pps.Ue(0);       // num_ref_idx_l0_default_active_minus1
    pps.Ue(0);       // num_ref_idx_l1_default_active_minus1
    pps.Bits(0, 1);  // weighted_pred_flag
    pps.Bits(0, 2);  // weighted_bipred_idc
    pps.Se(0);       // pic_init_qp_minus26
    pps.Se(0);       // pic_init_qs_minus26
    pps.Se(0);       // chroma_qp_index_offset
    pps.Bits(1, 1);  // deblocking_filter_control_present_flag
    pps.Bits(0, 1);  // constrained_intra_pred_flag
    pps.Bits(0, 1);  // redundant_pic_cnt_present_flag
    AppendNal(frame, 0x68, pps.Finish());

    BitWriter slice;
    slice.Ue(0);       // first_mb_in_slice
    slice.Ue(7);       // slice_type: I, all slices of the picture
    slice.Ue(0);       // pic_parameter_set_id
    slice.Bits(0, 4);  // frame_num
    slice.Ue(0);       // idr_pic_id
    slice.Bits(0, 1);  // no_output_of_prior_pics_flag
    slice.Bits(0, 1);  // long_term_reference_flag
    slice.Se(0);       // slice_qp_delta
    slice.Ue(1);       // disable_deblocking_filter_idc
    for (int i = 0; i < 4; ++i)
        slice.Ue(0);  // mb_type I_NxN, then whatever follows: the data runs out early
    AppendNal(frame, 0x65, slice.Finish());
    return frame;
}

}  // namespace kavrel::test
