#include "front/mkvmerge_options.hpp"

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>
#include <utility>

namespace packrift {

namespace {

// ISO 639-1, the two-letter language codes (the list its registration
// authority keeps, bh included), sorted for the lookup.
constexpr std::size_t ISO_639_1_CODES = 184;
constexpr std::array<std::string_view, ISO_639_1_CODES> ISO_639_1 = {
    "aa", "ab", "ae", "af", "ak", "am", "an", "ar", "as", "av", "ay", "az",
    "ba", "be", "bg", "bh", "bi", "bm", "bn", "bo", "br", "bs",
    "ca", "ce", "ch", "co", "cr", "cs", "cu", "cv", "cy",
    "da", "de", "dv", "dz",
    "ee", "el", "en", "eo", "es", "et", "eu",
    "fa", "ff", "fi", "fj", "fo", "fr", "fy",
    "ga", "gd", "gl", "gn", "gu", "gv",
    "ha", "he", "hi", "ho", "hr", "ht", "hu", "hy", "hz",
    "ia", "id", "ie", "ig", "ii", "ik", "io", "is", "it", "iu",
    "ja", "jv",
    "ka", "kg", "ki", "kj", "kk", "kl", "km", "kn", "ko", "kr", "ks", "ku", "kv", "kw", "ky",
    "la", "lb", "lg", "li", "ln", "lo", "lt", "lu", "lv",
    "mg", "mh", "mi", "mk", "ml", "mn", "mr", "ms", "mt", "my",
    "na", "nb", "nd", "ne", "ng", "nl", "nn", "no", "nr", "nv", "ny",
    "oc", "oj", "om", "or", "os",
    "pa", "pi", "pl", "ps", "pt",
    "qu",
    "rm", "rn", "ro", "ru", "rw",
    "sa", "sc", "sd", "se", "sg", "si", "sk", "sl", "sm", "sn", "so", "sq", "sr", "ss", "st", "su", "sv", "sw",
    "ta", "te", "tg", "th", "ti", "tk", "tl", "tn", "to", "tr", "ts", "tt", "tw", "ty",
    "ug", "uk", "ur", "uz",
    "ve", "vi", "vo",
    "wa", "wo",
    "xh",
    "yi", "yo",
    "za", "zh", "zu",
};
static_assert(std::is_sorted(ISO_639_1.begin(), ISO_639_1.end()), "the lookup needs the codes sorted");
static_assert(std::none_of(ISO_639_1.begin(), ISO_639_1.end(), [](std::string_view code) { return code.empty(); }),
              "every code written out");

// Codes ISO 639-1 withdrew, with the ones that replaced them; discs
// authored to the 1988 list may carry them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> WITHDRAWN = {{
    {"in", "id"},
    {"iw", "he"},
    {"ji", "yi"},
    {"mo", "ro"},
}};

constexpr const char* UNDETERMINED = "und";  // ISO 639-2's code for no known language
constexpr std::size_t CODE_LETTERS = 2;

char lower_case(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// UTF-8 (RFC 3629): a lead byte gives a sequence's length and its first
// bits; each continuation byte, 10xxxxxx, six more.
constexpr unsigned char ASCII_END = 0x80;
constexpr unsigned char CONTINUATION_MASK = 0xC0;
constexpr unsigned char CONTINUATION_TAG = 0x80;
constexpr unsigned char CONTINUATION_BITS_MASK = 0x3F;
constexpr unsigned CONTINUATION_BITS = 6;
constexpr char32_t FIRST_SURROGATE = 0xD800;
constexpr char32_t LAST_SURROGATE = 0xDFFF;
constexpr char32_t LAST_CODE_POINT = 0x10FFFF;

struct LeadByte {
    unsigned char mask;
    unsigned char tag;
    std::size_t length;
    char32_t smallest;  // below it the sequence is an overlong form
};
constexpr std::array<LeadByte, 3> LEAD_BYTES = {{
    {0xE0, 0xC0, 2, 0x80},
    {0xF0, 0xE0, 3, 0x800},
    {0xF8, 0xF0, 4, 0x10000},
}};

// The length of the valid sequence at text[at], or 0.
std::size_t sequence_length(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < ASCII_END) {
        return 1;
    }
    const auto form = std::find_if(LEAD_BYTES.begin(), LEAD_BYTES.end(),
                                   [lead](const LeadByte& f) { return (lead & f.mask) == f.tag; });
    if (form == LEAD_BYTES.end() || text.size() - at < form->length) {
        return 0;
    }
    char32_t point = lead & static_cast<unsigned char>(~form->mask);
    for (std::size_t i = 1; i < form->length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if ((byte & CONTINUATION_MASK) != CONTINUATION_TAG) {
            return 0;
        }
        point = point << CONTINUATION_BITS | (byte & CONTINUATION_BITS_MASK);
    }
    const bool surrogate = point >= FIRST_SURROGATE && point <= LAST_SURROGATE;
    return point >= form->smallest && point <= LAST_CODE_POINT && !surrogate ? form->length : 0;
}

// JSON strings (RFC 8259): quote, backslash and the control characters
// escaped, the short forms where JSON has them; the rest as it is.
constexpr unsigned char FIRST_UNESCAPED = 0x20;
constexpr std::array<std::pair<char, std::string_view>, 7> SHORT_ESCAPES = {{
    {'"', "\\\""},
    {'\\', "\\\\"},
    {'\b', "\\b"},
    {'\f', "\\f"},
    {'\n', "\\n"},
    {'\r', "\\r"},
    {'\t', "\\t"},
}};
constexpr std::string_view HEX_DIGITS = "0123456789abcdef";
constexpr unsigned NIBBLE_BITS = 4;
constexpr unsigned NIBBLE_MASK = 0xF;

std::string json_string(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto escape = std::find_if(SHORT_ESCAPES.begin(), SHORT_ESCAPES.end(),
                                         [c](const auto& e) { return e.first == c; });
        if (escape != SHORT_ESCAPES.end()) {
            quoted += escape->second;
        } else if (static_cast<unsigned char>(c) < FIRST_UNESCAPED) {
            const auto byte = static_cast<unsigned char>(c);
            quoted += "\\u00";
            quoted += HEX_DIGITS[byte >> NIBBLE_BITS];
            quoted += HEX_DIGITS[byte & NIBBLE_MASK];
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// Each file packrift writes holds one track, mkvmerge's track ID 0.
constexpr const char* TRACK_0 = "0:";
constexpr const char* NOT_DEFAULT = "0:0";

// mkvmerge reads a file argument that starts with one of these as its own
// syntax: "+x" appends x, "=x" stops the search for x's numbered siblings,
// "-x" may be an option, "(" "[" open a group. "./" keeps the same file.
constexpr std::string_view MKVMERGE_SYNTAX_LEADS = "+=-()[]";
constexpr const char* CURRENT_FOLDER = "./";

std::string file_argument(const std::string& file) {
    const bool misread = !file.empty() && MKVMERGE_SYNTAX_LEADS.find(file.front()) != std::string_view::npos;
    return misread ? CURRENT_FOLDER + file : file;
}

void add_track(std::vector<std::string>& arguments, const MuxTrack& track) {
    using Role = MuxTrack::Role;
    if (track.role != Role::video) {
        arguments.insert(arguments.end(), {"--language", TRACK_0 + mkvmerge_language(track.language)});
    }
    // A subtitle file's own times already hold its delay.
    if (track.role == Role::audio && track.delay_ms) {
        arguments.insert(arguments.end(), {"--sync", TRACK_0 + std::to_string(*track.delay_ms)});
    }
    if (!track.track_name.empty()) {
        arguments.insert(arguments.end(), {"--track-name", TRACK_0 + track.track_name});
    }
    if (track.role != Role::video && !track.default_track) {
        arguments.insert(arguments.end(), {"--default-track-flag", NOT_DEFAULT});
    }
    arguments.push_back(file_argument(track.file));
}

// The first name that is not valid UTF-8, or none.
const std::string* invalid_name(const MuxOptions& options) {
    std::vector<const std::string*> names = {&options.output};
    for (const MuxTrack& track : options.tracks) {
        names.insert(names.end(), {&track.file, &track.track_name});
    }
    if (options.chapters) {
        names.push_back(&*options.chapters);
    }
    const auto bad =
        std::find_if(names.begin(), names.end(), [](const std::string* name) { return !valid_utf8(*name); });
    return bad == names.end() ? nullptr : *bad;
}

}  // namespace

std::string mkvmerge_language(const std::string& two_letters) {
    if (two_letters.size() != CODE_LETTERS) {
        return UNDETERMINED;
    }
    std::string code;
    std::transform(two_letters.begin(), two_letters.end(), std::back_inserter(code), lower_case);
    const auto withdrawn = std::find_if(WITHDRAWN.begin(), WITHDRAWN.end(),
                                        [&code](const auto& pair) { return pair.first == code; });
    if (withdrawn != WITHDRAWN.end()) {
        return std::string(withdrawn->second);
    }
    return std::binary_search(ISO_639_1.begin(), ISO_639_1.end(), code) ? code : UNDETERMINED;
}

bool valid_utf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequence_length(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

std::optional<std::string> mkvmerge_json(const MuxOptions& options, std::string& problem) {
    if (const std::string* bad = invalid_name(options)) {
        problem = *bad + ": the name is not valid UTF-8, which mkvmerge's JSON options file cannot hold";
        return std::nullopt;
    }
    std::vector<std::string> arguments = {"--output", options.output};
    for (const MuxTrack& track : options.tracks) {
        add_track(arguments, track);
    }
    if (options.chapters) {
        arguments.insert(arguments.end(), {"--chapters", *options.chapters});
    }
    std::string json = "[\n";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        json += "  " + json_string(arguments[i]) + (i + 1 < arguments.size() ? ",\n" : "\n");
    }
    return json + "]\n";
}

}  // namespace packrift
