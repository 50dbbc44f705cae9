#pragma once
// The .sub of a subpicture substream: every pack that carries one of its
// packets, whole, which is the program stream VobSub readers take; and,
// for its .idx, where each unit begins and what the video says of the
// picture size and the clock's start.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "demux/demux_common.hpp"
#include "io/file_io.hpp"
#include "output/subpicture_units.hpp"

namespace packrift {

// A packet's PTS, when it carries one.
using PacketTime = std::optional<std::uint64_t>;

// Stages the pack whole into output's file and takes the packet's data
// (length bytes at data_offset in the sector, after the substream number)
// into the output's units; returns the bytes staged, a sector.
int stage_subpicture_pack(Output& output, const unsigned char* sector, std::size_t data_offset, int length,
                          PacketTime pts);

// What the video stream says that the .idx needs: its first PTS and the
// picture size of its first sequence header. Where its timestamps start
// anew (the next VOB of a title), the subpictures that follow are put after
// the part before, so that the .idx keeps to the video's clock.
struct WatchedVideo {
    PacketTime first_pts;
    int width = 0;
    int height = 0;  // 0 until a sequence header is met
};

// Takes every packet of video stream 0.
void watch_video_packet(const unsigned char* payload, int length, PacketTime pts);

const WatchedVideo& watched_video();

// From now on the subpictures' times follow the title's clock, which the
// reading of a title's joins keeps: offset is added to the PTS of the part
// being read (less the video's first PTS, it is the unit's .idx time).
void set_subpicture_part_offset(std::uint64_t offset);

// From now on the parts are placed as in a file again, from the offset
// last set: the title's clock is no longer followed.
void follow_own_subpicture_clock();

// The units of a subpicture output, the last one ended.
const SubpictureUnits& finished_subpicture_units(const Output& output);

// Forgets the units and the video of an earlier run.
void reset_subpicture_output();

}  // namespace packrift
