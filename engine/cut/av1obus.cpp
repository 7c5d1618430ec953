#include "av1obus.h"

#include "nalbits.h"

namespace {

// A leb128 field; false past the end or beyond eight bytes.
bool readLeb128(const QByteArray &data, qsizetype *at, quint64 *value)
{
    *value = 0;
    for (int i = 0; i < 8; ++i) {
        if (*at >= data.size())
            return false;
        const uchar b = uchar(data.at((*at)++));
        *value |= quint64(b & 0x7f) << (7 * i);
        if (!(b & 0x80))
            return true;
    }
    return false;
}

} // namespace

namespace Av1Obus {

QList<Unit> split(const QByteArray &data)
{
    QList<Unit> units;
    qsizetype at = 0;
    while (at < data.size()) {
        Unit u;
        u.offset = at;
        const uchar header = uchar(data.at(at++));
        if (header & 0x80)
            return {}; // the forbidden bit
        u.type = (header >> 3) & 0xf;
        if (header & 0x04)
            ++at; // the extension byte (temporal and spatial ids)
        quint64 length = 0;
        if (header & 0x02) {
            if (!readLeb128(data, &at, &length))
                return {};
        } else {
            length = quint64(data.size() - std::min(at, data.size()));
        }
        if (at > data.size() || length > quint64(data.size() - at))
            return {};
        u.payload = at;
        at += qsizetype(length);
        u.size = at - u.offset;
        units << u;
    }
    return units;
}

QByteArray sequenceHeader(const QByteArray &data)
{
    for (const Unit &u : split(data)) {
        if (u.type == SequenceHeader)
            return data.mid(u.offset, u.size);
    }
    return {};
}

QByteArray configSequenceHeader(const QByteArray &extradata)
{
    // av1C: marker bit and version 1, three bytes of fields, then the configOBUs.
    if (extradata.size() >= 4 && uchar(extradata.at(0)) == 0x81)
        return sequenceHeader(extradata.mid(4));
    return sequenceHeader(extradata);
}

bool startsShownKeyFrame(const QByteArray &data)
{
    bool reducedStill = false;
    for (const Unit &u : split(data)) {
        if (u.type == SequenceHeader && u.payload < data.size())
            reducedStill = (uchar(data.at(u.payload)) >> 3) & 1; // after profile, still_picture
        if (u.type != FrameHeader && u.type != Frame)
            continue;
        if (reducedStill)
            return true; // one key frame, shown
        if (u.payload >= data.size())
            return false;
        // show_existing_frame (1), frame_type (2; 0 is a key frame), show_frame (1)
        const uchar b = uchar(data.at(u.payload));
        return !(b & 0x80) && ((b >> 5) & 3) == 0 && (b & 0x10);
    }
    return false;
}

QByteArray withSequenceHeader(const QByteArray &data, const QByteArray &header)
{
    qsizetype at = 0;
    for (const Unit &u : split(data)) {
        if (u.type == SequenceHeader)
            return data;
        if (u.type != TemporalDelimiter)
            break;
        at = u.offset + u.size;
    }
    QByteArray joined = data;
    joined.insert(at, header);
    return joined;
}

} // namespace Av1Obus

namespace {

// Reads a sequence header's syntax elements in coding order (section 5.5 of the AV1 bitstream
// standard), each one read or inferred recorded by name.
class SequenceHeaderReader
{
public:
    explicit SequenceHeaderReader(const QByteArray &payload)
        : m_bits(payload)
    {
    }

    QList<Av1Obus::Field> read()
    {
        const quint32 profile = f("seq_profile", 3);
        f("still_picture", 1);
        const bool reduced = f("reduced_still_picture_header", 1);
        if (reduced) {
            set("operating_points_cnt_minus_1", 0);
            f("seq_level_idx[0]", 5);
        } else {
            operatingPoints();
        }
        frameSize(reduced);
        tools(reduced);
        colorConfig(profile);
        f("film_grain_params_present", 1);
        if (!m_bits.ok())
            return {};
        return m_fields;
    }

private:
    quint32 f(const QByteArray &name, int n)
    {
        const quint32 v
            = n > 16 ? (quint32(m_bits.bits(n - 16)) << 16) | m_bits.bits(16) : m_bits.bits(n);
        return set(name, v);
    }
    quint32 set(const QByteArray &name, quint32 v)
    {
        m_fields << Av1Obus::Field { name, v };
        return v;
    }
    static QByteArray indexed(const char *name, quint32 i)
    {
        return QByteArray(name) + '[' + QByteArray::number(i) + ']';
    }

    void operatingPoints()
    {
        bool decoderModel = false;
        quint32 delayBits = 0;
        if (f("timing_info_present_flag", 1)) {
            f("num_units_in_display_tick", 32);
            f("time_scale", 32);
            if (f("equal_picture_interval", 1))
                set("num_ticks_per_picture_minus_1", m_bits.ue());
            decoderModel = f("decoder_model_info_present_flag", 1);
            if (decoderModel) {
                delayBits = f("buffer_delay_length_minus_1", 5) + 1;
                f("num_units_in_decoding_tick", 32);
                f("buffer_removal_time_length_minus_1", 5);
                f("frame_presentation_time_length_minus_1", 5);
            }
        }
        const bool displayDelay = f("initial_display_delay_present_flag", 1);
        const quint32 count = f("operating_points_cnt_minus_1", 5) + 1;
        for (quint32 i = 0; i < count && m_bits.ok(); ++i) {
            f(indexed("operating_point_idc", i), 12);
            if (f(indexed("seq_level_idx", i), 5) > 7)
                f(indexed("seq_tier", i), 1);
            if (decoderModel && f(indexed("decoder_model_present_for_this_op", i), 1)) {
                f(indexed("decoder_buffer_delay", i), int(delayBits));
                f(indexed("encoder_buffer_delay", i), int(delayBits));
                f(indexed("low_delay_mode_flag", i), 1);
            }
            if (displayDelay && f(indexed("initial_display_delay_present_for_this_op", i), 1))
                f(indexed("initial_display_delay_minus_1", i), 4);
        }
    }

    void frameSize(bool reduced)
    {
        const int widthBits = int(f("frame_width_bits_minus_1", 4)) + 1;
        const int heightBits = int(f("frame_height_bits_minus_1", 4)) + 1;
        f("max_frame_width_minus_1", widthBits);
        f("max_frame_height_minus_1", heightBits);
        if (!reduced && f("frame_id_numbers_present_flag", 1)) {
            f("delta_frame_id_length_minus_2", 4);
            f("additional_frame_id_length_minus_1", 3);
        }
        f("use_128x128_superblock", 1);
        f("enable_filter_intra", 1);
        f("enable_intra_edge_filter", 1);
    }

    void tools(bool reduced)
    {
        constexpr quint32 kSelect = 2; // the frames choose
        if (reduced) {
            for (const char *name :
                 { "enable_interintra_compound", "enable_masked_compound", "enable_warped_motion",
                   "enable_dual_filter", "enable_order_hint", "enable_jnt_comp",
                   "enable_ref_frame_mvs" })
                set(name, 0);
            set("seq_force_screen_content_tools", kSelect);
            set("seq_force_integer_mv", kSelect);
        } else {
            f("enable_interintra_compound", 1);
            f("enable_masked_compound", 1);
            f("enable_warped_motion", 1);
            f("enable_dual_filter", 1);
            const bool orderHint = f("enable_order_hint", 1);
            orderHint ? f("enable_jnt_comp", 1) : set("enable_jnt_comp", 0);
            orderHint ? f("enable_ref_frame_mvs", 1) : set("enable_ref_frame_mvs", 0);
            const quint32 screen = f("seq_choose_screen_content_tools", 1)
                ? set("seq_force_screen_content_tools", kSelect)
                : f("seq_force_screen_content_tools", 1);
            if (screen == 0)
                set("seq_force_integer_mv", kSelect);
            else if (f("seq_choose_integer_mv", 1))
                set("seq_force_integer_mv", kSelect);
            else
                f("seq_force_integer_mv", 1);
            if (orderHint)
                f("order_hint_bits_minus_1", 3);
        }
        f("enable_superres", 1);
        f("enable_cdef", 1);
        f("enable_restoration", 1);
    }

    void colorConfig(quint32 profile)
    {
        const bool high = f("high_bitdepth", 1);
        const bool twelve = profile == 2 && high && f("twelve_bit", 1);
        const bool mono = profile != 1 && f("mono_chrome", 1);
        quint32 primaries = 2, transfer = 2, matrix = 2; // unspecified
        if (f("color_description_present_flag", 1)) {
            primaries = f("color_primaries", 8);
            transfer = f("transfer_characteristics", 8);
            matrix = f("matrix_coefficients", 8);
        }
        if (mono) {
            f("color_range", 1);
            return;
        }
        if (primaries == 1 && transfer == 13 && matrix == 0) { // sRGB
            set("color_range", 1);
        } else {
            f("color_range", 1);
            quint32 x = 1, y = 1;
            if (profile == 1) {
                x = y = 0;
            } else if (profile == 2) {
                x = twelve ? f("subsampling_x", 1) : set("subsampling_x", 1);
                y = twelve && x ? f("subsampling_y", 1) : set("subsampling_y", 0);
            }
            if (x && y)
                f("chroma_sample_position", 2);
        }
        f("separate_uv_delta_q", 1);
    }

    NalBits::Reader m_bits;
    QList<Av1Obus::Field> m_fields;
};

} // namespace

namespace Av1Obus {

QByteArray replaceSequenceHeader(const QByteArray &data, const QByteArray &header)
{
    QByteArray out;
    for (const Unit &u : split(data))
        out += u.type == SequenceHeader ? header : data.mid(u.offset, u.size);
    return out;
}

QList<Field> sequenceHeaderFields(const QByteArray &unit)
{
    const QList<Unit> units = split(unit);
    if (units.size() != 1 || units.first().type != SequenceHeader)
        return {};
    SequenceHeaderReader reader(unit.mid(units.first().payload));
    return reader.read();
}

static const Field *findField(const QList<Field> &fields, const char *name)
{
    for (const Field &f : fields) {
        if (f.name == name)
            return &f;
    }
    return nullptr;
}

quint32 fieldValue(const QList<Field> &fields, const char *name, quint32 fallback)
{
    const Field *f = findField(fields, name);
    return f ? f->value : fallback;
}

QStringList differingFields(const QList<Field> &a, const QList<Field> &b)
{
    QStringList names;
    for (const Field &f : a) {
        const Field *g = findField(b, f.name.constData());
        if (!g || g->value != f.value)
            names << QString::fromLatin1(f.name) + (g ? QString() : QStringLiteral(" (absent)"));
    }
    for (const Field &g : b) {
        if (!findField(a, g.name.constData()))
            names << QString::fromLatin1(g.name) + QStringLiteral(" (absent)");
    }
    return names;
}

} // namespace Av1Obus
