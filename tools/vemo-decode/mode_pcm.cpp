// vemo-decode sound outputs: --pcm-prefix writes every playable track's
// decoded sound as raw PCM, --wav one track as a 16-bit PCM WAV file.
#include <cstdio>
#include <string>
#include <vector>

#include "decode_mode.h"
#include "vemo/audio_decoder.h"
#include "vemo/movie_reader.h"

namespace {

using vemo::tool::DecodeArgs;

class CollectSink : public vemo::AudioSink {
  public:
    void AppendAudio(const uint8_t* bytes, uint32_t count) override {
        data.insert(data.end(), bytes, bytes + count);
    }
    std::vector<uint8_t> data;
};

// Decodes track t over every frame; false when a packet is unusable.
bool DecodeTrack(vemo::MovieReader& movie, uint32_t t, std::vector<uint8_t>* pcm,
                 uint32_t* short_parts) {
    vemo::AudioDecoder* decoder = vemo::OpenAudioDecoderForTrack(movie.tracks().format[t]);
    if (!decoder) {
        std::fprintf(stderr, "vemo-decode: cannot create an audio decoder\n");
        return false;
    }
    CollectSink sink;
    *short_parts = 0;
    bool ok = true;
    for (uint32_t f = 0; f < movie.header().frames; ++f) {
        vemo::PacketParts parts;
        if (!movie.Parts(f, &parts)) {
            std::fprintf(stderr, "vemo-decode: frame %u: packet unusable\n", f + 1);
            ok = false;
            break;
        }
        const vemo::TrackPart& part = parts.tracks[t];
        vemo::AudioPartStatus status;
        vemo::DecodeAudioPart(decoder, part.data, part.length, &sink, &status);
        if (!status.complete) ++*short_parts;
    }
    vemo::CloseAudioDecoder(decoder);
    pcm->swap(sink.data);
    return ok;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& head,
               const std::vector<uint8_t>& body) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "vemo-decode: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = (head.empty() || std::fwrite(head.data(), 1, head.size(), file) == head.size()) &&
              (body.empty() || std::fwrite(body.data(), 1, body.size(), file) == body.size());
    ok = std::fclose(file) == 0 && ok;
    if (!ok) std::fprintf(stderr, "vemo-decode: writing %s failed\n", path.c_str());
    return ok;
}

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void PutTag(std::vector<uint8_t>& v, const char* tag) {
    v.insert(v.end(), tag, tag + 4);
}

std::vector<uint8_t> WavHeader(uint32_t rate, uint32_t channels, uint32_t data_bytes) {
    std::vector<uint8_t> h;
    PutTag(h, "RIFF");
    Put32(h, 36 + data_bytes);
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    Put32(h, 16);
    Put16(h, 1);  // PCM
    Put16(h, channels);
    Put32(h, rate);
    Put32(h, rate * channels * 2);
    Put16(h, channels * 2);
    Put16(h, 16);
    PutTag(h, "data");
    Put32(h, data_bytes);
    return h;
}

bool LoadMovie(const DecodeArgs& args, vemo::MovieReader* movie) {
    if (movie->Open(args.movie)) return true;
    std::fprintf(stderr, "vemo-decode: %s: %s%s%s\n", args.movie.c_str(), movie->error().c_str(),
                 movie->detail().empty() ? "" : " ", movie->detail().c_str());
    return false;
}

int RunSound(const DecodeArgs& args) {
    vemo::MovieReader movie;
    if (!LoadMovie(args, &movie)) return 1;
    const vemo::TrackTable& tracks = movie.tracks();

    if (args.has("--pcm-prefix")) {
        const std::string prefix = args.get("--pcm-prefix");
        for (uint32_t t = 0; t < tracks.count; ++t) {
            if (vemo::AudioTrackVariant(tracks.format[t]) == 0) continue;
            std::vector<uint8_t> pcm;
            uint32_t short_parts = 0;
            if (!DecodeTrack(movie, t, &pcm, &short_parts)) return 1;
            if (short_parts)
                std::fprintf(stderr, "vemo-decode: track %u: %u parts ended before their count\n",
                             tracks.id[t], short_parts);
            if (!WriteFile(prefix + ".track" + std::to_string(tracks.id[t]) + ".pcm", {}, pcm))
                return 1;
        }
    }

    if (args.has("--wav")) {
        uint32_t chosen = tracks.count;
        if (args.has("--track")) {
            unsigned long long id = 0;
            if (!vemo::tool::ParseNumber(args.get("--track"), &id)) {
                std::fprintf(stderr, "vemo-decode: --track needs a track ID\n");
                return 2;
            }
            for (uint32_t t = 0; t < tracks.count; ++t)
                if (tracks.id[t] == id) chosen = t;
            if (chosen == tracks.count) {
                std::fprintf(stderr, "vemo-decode: no track with ID %llu\n", id);
                return 1;
            }
            if (vemo::AudioTrackVariant(tracks.format[chosen]) == 0) {
                std::fprintf(stderr, "vemo-decode: track %llu is never played\n", id);
                return 1;
            }
        } else {
            for (uint32_t t = 0; t < tracks.count && chosen == tracks.count; ++t)
                if (vemo::AudioTrackVariant(tracks.format[t]) != 0) chosen = t;
            if (chosen == tracks.count) {
                std::fprintf(stderr, "vemo-decode: the movie has no playable sound track\n");
                return 1;
            }
        }
        std::vector<uint8_t> pcm;
        uint32_t short_parts = 0;
        if (!DecodeTrack(movie, chosen, &pcm, &short_parts)) return 1;
        const uint32_t format = tracks.format[chosen];
        const uint32_t channels = vemo::TrackChannels(format);
        // Whole sample frames only; a WAV data chunk is limited to 4 GB.
        pcm.resize(pcm.size() / (2 * channels) * (2 * channels));
        if (pcm.size() > 0xFFFFFF00u) pcm.resize(0xFFFFFF00u / (2 * channels) * (2 * channels));
        const auto header =
            WavHeader(vemo::TrackRate(format), channels, static_cast<uint32_t>(pcm.size()));
        if (!WriteFile(args.get("--wav"), header, pcm)) return 1;
    }
    return 0;
}

const vemo::tool::DecodeMode kSoundMode{
    "sound",
    {
        {"--pcm-prefix", true, true, "write P.track<ID>.pcm for every playable track"},
        {"--wav", true, true, "write one track as a 16-bit PCM WAV file"},
        {"--track", true, false, "the track ID for --wav (default: the first playable)"},
    },
    RunSound,
};
VEMO_DECODE_MODE(kSoundMode);

}  // namespace
