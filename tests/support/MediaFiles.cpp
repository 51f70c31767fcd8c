#include "tests/support/MediaFiles.h"

#include "platform/media/GstHolders.h"
#include "tests/support/TestFiles.h"

#include <gst/gst.h>

#include <cmath>
#include <cstdint>
#include <memory>

namespace {

// 13 buffers of 1024 samples at 44.1 kHz are 0.3 s. Larger buffers crash
// avenc_wmav2, so the default buffer size stays.
const char* const kSource =
    "audiotestsrc num-buffers=13 wave=sine freq=440 volume=0.3 ! audioconvert ! ";

void SetError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

bool RunEncoder(const std::string& tail, const std::string& path, bool tagMp3, std::string* error)
{
    gst_init(nullptr, nullptr);
    GError* parseError = nullptr;
    GstElement* raw = gst_parse_launch((std::string(kSource) + tail).c_str(), &parseError);
    if (parseError) {
        SetError(error, parseError->message);
        g_error_free(parseError);
        if (raw)
            gst_object_unref(raw);
        return false;
    }
    TElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(raw)));
    // Set as a property rather than in the description, so that any bytes
    // can be in the name.
    TElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    g_object_set(sink.get(), "location", path.c_str(), nullptr);
    if (tagMp3) {
        TElementPtr tagger(gst_bin_get_by_name(GST_BIN(pipeline.get()), "tagger"));
        gst_tag_setter_add_tags(GST_TAG_SETTER(tagger.get()), GST_TAG_MERGE_REPLACE, GST_TAG_TITLE,
                                kMediaTitle, GST_TAG_ARTIST, kMediaArtist, nullptr);
    }

    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        SetError(error, "the encoding pipeline did not start");
        return false;
    }
    TBusPtr bus(gst_element_get_bus(pipeline.get()));
    TMessagePtr message(gst_bus_timed_pop_filtered(
        bus.get(), 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    bool ok = message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    if (!message) {
        SetError(error, "the encoding pipeline did not finish in time");
    } else if (!ok) {
        GError* runError = nullptr;
        gst_message_parse_error(message.get(), &runError, nullptr);
        SetError(error, runError ? runError->message : "encoding failed");
        if (runError)
            g_error_free(runError);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return ok;
}

void PutBigEndian(std::string& out, uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

// Format 0, one track, 480 ticks per quarter: middle C for one beat at the
// default 120 bpm, so 0.5 s.
std::string MidiBytes()
{
    const std::string track("\x00\x90\x3C\x64"     // note on, velocity 100
                            "\x83\x60\x80\x3C\x40" // after 480 ticks: note off
                            "\x00\xFF\x2F\x00",    // end of track
                            13);
    std::string bytes = "MThd";
    PutBigEndian(bytes, 6, 4);
    PutBigEndian(bytes, 0, 2);
    PutBigEndian(bytes, 1, 2);
    PutBigEndian(bytes, 480, 2);
    bytes += "MTrk";
    PutBigEndian(bytes, static_cast<uint32_t>(track.size()), 4);
    return bytes + track;
}

// Sun audio: 24-byte header, then 16-bit signed big-endian PCM.
std::string AuBytes()
{
    constexpr uint32_t rate = 8000;
    constexpr uint32_t samples = rate * 3 / 10;
    std::string bytes = ".snd";
    PutBigEndian(bytes, 24, 4);          // data offset
    PutBigEndian(bytes, samples * 2, 4); // data size
    PutBigEndian(bytes, 3, 4);           // 16-bit linear PCM
    PutBigEndian(bytes, rate, 4);
    PutBigEndian(bytes, 1, 4); // channels
    for (uint32_t i = 0; i < samples; ++i) {
        const double value = 8000.0 * std::sin(2.0 * M_PI * 440.0 * i / rate);
        PutBigEndian(bytes, static_cast<uint16_t>(static_cast<int16_t>(value)), 2);
    }
    return bytes;
}

} // namespace

std::vector<TMediaKind> AllMediaKinds()
{
    return {TMediaKind::Mid, TMediaKind::Wma,  TMediaKind::Wav,
            TMediaKind::Mp3, TMediaKind::Aiff, TMediaKind::Au};
}

std::string MediaExtension(TMediaKind kind)
{
    switch (kind) {
    case TMediaKind::Mid:
        return ".mid";
    case TMediaKind::Wma:
        return ".wma";
    case TMediaKind::Wav:
        return ".wav";
    case TMediaKind::Mp3:
        return ".mp3";
    case TMediaKind::Aiff:
        return ".aiff";
    case TMediaKind::Au:
        return ".au";
    }
    return {};
}

void PrintTo(TMediaKind kind, std::ostream* out)
{
    *out << MediaExtension(kind);
}

bool WriteMediaFileAt(const std::string& path, TMediaKind kind, std::string* error)
{
    switch (kind) {
    case TMediaKind::Mid:
    case TMediaKind::Au:
        if (WriteFileBytes(path, kind == TMediaKind::Mid ? MidiBytes() : AuBytes()))
            return true;
        SetError(error, "cannot write " + path);
        return false;
    case TMediaKind::Wma:
        return RunEncoder("avenc_wmav2 ! asfmux ! filesink name=sink", path, false, error);
    case TMediaKind::Wav:
        return RunEncoder("wavenc ! filesink name=sink", path, false, error);
    case TMediaKind::Mp3:
        return RunEncoder("lamemp3enc ! id3v2mux name=tagger ! filesink name=sink", path, true,
                          error);
    case TMediaKind::Aiff:
        return RunEncoder("aiffmux ! filesink name=sink", path, false, error);
    }
    SetError(error, "unknown kind");
    return false;
}

std::string WriteMediaFile(const std::string& directory, TMediaKind kind, const std::string& stem)
{
    const std::string path = directory + "/" + stem + MediaExtension(kind);
    return WriteMediaFileAt(path, kind) ? path : std::string();
}

bool WriteM3u(const std::string& path, const std::vector<std::string>& entries, bool crlf)
{
    const std::string end = crlf ? "\r\n" : "\n";
    std::string bytes = "#EXTM3U" + end;
    for (const std::string& entry : entries)
        bytes += entry + end;
    return WriteFileBytes(path, bytes);
}
