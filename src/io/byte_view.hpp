#pragma once
// The one way binary tables read from a file (IFO files, navigation packs,
// a disc image's file system) are looked at: a view of the bytes read, with
// big-endian fields (and the little-endian ones of ECMA-119 and ECMA-167)
// read at offsets and checked against the view's end. A read past the end gives 0
// and marks the view overrun; the mark stays, so that a parser may read a
// run of fields and check once. No parser indexes raw bytes itself.

#include <cstddef>
#include <cstdint>

namespace packrift {

struct ByteView {
    const unsigned char* bytes = nullptr;
    std::size_t size = 0;
    bool overrun = false;  // set by the first read that did not fit, never cleared
};

inline ByteView view_of(const unsigned char* bytes, std::size_t size) {
    return ByteView{bytes, size, false};
}

// Whether length bytes from offset lie inside the view, without overflow.
inline bool holds(const ByteView& view, std::size_t offset, std::size_t length) {
    return offset <= view.size && length <= view.size - offset;
}

namespace byte_view_detail {

// The unsigned big-endian value of width bytes at offset, or 0 (the view
// then marked overrun) when they do not all lie inside it.
inline std::uint32_t read_be(ByteView& view, std::size_t offset, std::size_t width) {
    if (!holds(view, offset, width)) {
        view.overrun = true;
        return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = value << 8 | view.bytes[offset + i];
    }
    return value;
}

// The same, least significant byte first.
inline std::uint32_t read_le(ByteView& view, std::size_t offset, std::size_t width) {
    if (!holds(view, offset, width)) {
        view.overrun = true;
        return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = width; i > 0; --i) {
        value = value << 8 | view.bytes[offset + i - 1];
    }
    return value;
}

}  // namespace byte_view_detail

inline std::uint8_t read_u8(ByteView& view, std::size_t offset) {
    return static_cast<std::uint8_t>(byte_view_detail::read_be(view, offset, 1));
}

inline std::uint16_t read_be16(ByteView& view, std::size_t offset) {
    return static_cast<std::uint16_t>(byte_view_detail::read_be(view, offset, 2));
}

inline std::uint32_t read_be32(ByteView& view, std::size_t offset) {
    return byte_view_detail::read_be(view, offset, 4);
}

inline std::uint16_t read_le16(ByteView& view, std::size_t offset) {
    return static_cast<std::uint16_t>(byte_view_detail::read_le(view, offset, 2));
}

inline std::uint32_t read_le32(ByteView& view, std::size_t offset) {
    return byte_view_detail::read_le(view, offset, 4);
}

// The length bytes from offset as a view of their own, offsets counted from
// its start. When they do not lie inside view, both views are marked
// overrun and the sub-view is empty, so that every read of it fails too.
inline ByteView sub_view(ByteView& view, std::size_t offset, std::size_t length) {
    if (!holds(view, offset, length)) {
        view.overrun = true;
        return ByteView{nullptr, 0, true};
    }
    return ByteView{view.bytes + offset, length, false};
}

// From offset to the end of view.
inline ByteView tail_view(ByteView& view, std::size_t offset) {
    return sub_view(view, offset, offset <= view.size ? view.size - offset : 0);
}

}  // namespace packrift
