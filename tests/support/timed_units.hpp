#pragma once
// Units whose content can be timed, for the tests of a title whose
// timestamps restart: MPEG-2 video (ISO/IEC 13818-2) of frame pictures at
// 25 Hz, 720x576, each unit's first picture timed by its packet's PTS; and
// AC-3 (A/52), DTS or MPEG-1 Layer II frames, each packet timed at the
// first frame that starts in it (through the substream header's first
// access unit pointer, MPEG audio aside).
// The headers are real (ffprobe counts the pictures; the AC-3 frames decode
// to silence with their CRCs checked); the slices and the DTS frames' data
// are filler. Every audio frame carries its part and number in bits a
// decoder passes over, so that an output shows which frames it holds.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/disc_builder.hpp"

namespace packtest::disc {

// Each part's first picture and each unit's PCI start time begin here.
inline constexpr std::uint32_t TIMED_START_PTS = 9000;
inline constexpr int TIMED_UNIT_PICTURES = 12;
inline constexpr int TIMED_SUBPICTURE_STREAM = 0x20;

// The part's video elementary stream: a sequence header and extension,
// then per unit a closed GOP of I pictures, and a sequence end code.
Bytes timed_video(const TimedPart& part);
// The part's audio frames (coding AC-3, DTS or MPEG-1), one after another.
Bytes timed_audio(const TimedPart& part, AudioCoding coding, int part_number);
// The bytes and the 90 kHz ticks of one frame of the parts' audio.
std::size_t timed_audio_frame_size(AudioCoding coding);
std::int64_t timed_audio_frame_ticks(AudioCoding coding);
// The part's units, their packs in order (video, then audio, then the
// subpicture), their PCI times from TIMED_START_PTS on; VOB and cell ids
// left to the caller.
std::vector<Vobu> timed_units(const TimedPart& part, AudioCoding coding, int part_number);

}  // namespace packtest::disc
