// Opening and closing movies, the last error, the sound system and the
// pending open settings.
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "movie_internal.h"
#include "vemo/platform.h"
#include "vemo/memory.h"
#include "vemo/timer.h"

namespace vemo {

namespace {

constexpr uint32_t kMaxTrackListLength = 256;
constexpr uint32_t kMaxPictureSide = 16384;
constexpr uint32_t kMaxTableTracks = 1024;
constexpr uint32_t kMaxWholeFramesPerSecond = 100000;

std::string& LastError() {
    static std::string text;
    return text;
}
void SetError(const char* text) {
    LastError() = text;
}

// ---- pending open settings (process-wide; one thread opens movies at a time)
OpenSettings& Pending() {
    static OpenSettings settings;
    return settings;
}

// What the classic open takes from the pending settings: the parts its flags
// ask for, each reset once used; the track list is reset by every open.
OpenSettings TakePendingSettings(uint32_t flags) {
    OpenSettings& pending = Pending();
    OpenSettings taken;
    if (flags & kOpenUseFrameRate) taken.frame_rate = std::exchange(pending.frame_rate, {});
    if (flags & kOpenUseTrackList) taken.tracks = pending.tracks;
    pending.tracks.reset();
    if (flags & kOpenUseBufferSize) taken.read_buffer_size = std::exchange(pending.read_buffer_size, {});
    if (flags & kOpenUseReadSpeed) taken.read_speed = std::exchange(pending.read_speed, {});
    return taken;
}

// ---- sound system
struct SoundSystem {
    SoundSystemGetter getter = nullptr;
    SoundOpener opener = nullptr;
};
SoundSystem& Sound() {
    static SoundSystem system;
    return system;
}

class RingSink : public AudioSink {
  public:
    explicit RingSink(SoundRing* ring) : ring_(ring) {}
    void AppendAudio(const uint8_t* bytes, uint32_t count) override { ring_->Append(bytes, count); }

  private:
    SoundRing* ring_;
};

uint32_t ReaderTrackedFlags(uint32_t caller_flags, const MovieHeader& h) {
    uint32_t flags = caller_flags | (h.flags & kHeaderGrayscale);
    if (!(h.flags & kHeaderAlpha)) flags &= ~kOpenDecodeAlpha;
    const uint32_t caller_mode = (caller_flags & kOpenScaleMask) >> kOpenScaleShift;
    const uint32_t header_mode = (h.flags & kHeaderScalingMask) >> kHeaderScalingShift;
    flags &= ~kOpenScaleMask;
    uint32_t mode = 0;
    if (caller_mode >= 1 && caller_mode <= 6)
        mode = caller_mode;
    else if (caller_mode == 0)
        mode = header_mode == 7 ? 0 : header_mode;
    flags |= mode << kOpenScaleShift;
    flags |= VersionOpenFlags(h.version);
    return flags;
}

bool ReadWords(MovieIO* io, uint32_t* words, uint32_t count) {
    if (count == 0) return true;
    const uint32_t bytes = count * 4;
    if (io->ReadDirect(kCurrentPosition, words, bytes) != bytes || io->ReadFailed()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t b[4];
        std::memcpy(b, &words[i], 4);
        words[i] = ReadLe32(b);
    }
    return true;
}

void FreeMovie(Movie* m) {
    if (!m) return;
    for (uint32_t i = 0; i < m->played_count; ++i) {
        SoundDriver* d = m->drivers[i];
        if (!d) continue;
        d->CloseSound();
        CloseAudioDecoder(static_cast<AudioDecoder*>(d->decoder));
        d->decoder = nullptr;
        delete d;
        m->drivers[i] = nullptr;
    }
    m->played_count = 0;
    if (m->io) m->io->CloseInput();
    m->io.reset();
    FreeLibraryMemory(m->read_block);
    FreeLibraryMemory(m->preload_block);
    FreeLibraryMemory(m->table_copy);
    FreeFramePlanes(m->planes);
    if (m->own_sound_lock) platform::DestroyMutex(m->own_sound_lock);
    m->~Movie();
    FreeLibraryMemory(m);
}

// Opens the played tracks' outputs, rings and decoders.
void OpenTracks(Movie* m, const std::vector<uint32_t>& ids) {
    // Track selection: for each ID in list order the first track with it.
    uint32_t selected = 0;
    for (uint32_t id : ids) {
        if (selected >= m->requested_tracks) break;
        for (uint32_t t = 0; t < m->track_count; ++t)
            if (m->track_id[t] == id) {
                bool taken = false;
                for (uint32_t k = 0; k < selected; ++k) taken = taken || m->played[k] == t;
                if (!taken) m->played[selected++] = t;
                break;
            }
    }
    const SoundOpener opener = Sound().opener;
    SoundMovieInfo info;
    info.frames = m->frames;
    info.rate_numerator = m->header_rate_num;
    info.rate_denominator = m->header_rate_den;
    uint32_t kept = 0;
    for (uint32_t k = 0; k < selected; ++k) {
        const uint32_t t = m->played[k];
        const uint32_t format = m->track_format[t];
        const int variant = TrackVariant(format);
        if (!variant || !opener) continue;
        const uint32_t rate = TrackRate(format);
        uint32_t play_rate = rate;
        if ((m->open_flags & kOpenUseFrameRate) && m->rate_num && m->rate_den &&
            m->header_rate_num) {
            const uint64_t num = static_cast<uint64_t>(rate) * m->rate_num * m->header_rate_den;
            const uint64_t den = static_cast<uint64_t>(m->header_rate_num) * m->rate_den;
            const uint64_t r = (num + den / 2) / den;
            play_rate = r > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(r);
        }
        const uint32_t bits = TrackBits(format);
        const uint32_t channels = TrackChannels(format);
        std::unique_ptr<SoundDriver> driver =
            opener(play_rate, bits, channels, m->open_flags, info);
        if (!driver) continue;
        if (!driver->alignment_mask) driver->alignment_mask = 0xFFFFFFFFu;
        // The ring holds one frame's sound on top of what the service leaves
        // behind (up to one chunk), so that a frame never pushes out sound
        // that was not played yet.
        uint32_t ring_size = AudioRingSize(format, m->track_buffer_size[t]);
        const uint64_t with_chunk =
            ring_size ? ring_size + ((uint64_t{driver->chunk_bytes} + 255) & ~uint64_t{255}) : 0;
        ring_size = with_chunk > 0x7FFFFF00u ? 0 : static_cast<uint32_t>(with_chunk);
        AudioDecoder* decoder =
            ring_size ? OpenAudioDecoder(rate, channels, variant == 1) : nullptr;
        if (!decoder || !driver->ring.Allocate(ring_size)) {
            CloseAudioDecoder(decoder);
            driver->CloseSound();
            continue;
        }
        driver->decoder = decoder;
        driver->eight_bit_output = bits == 8 ? 1 : 0;
        driver->end_of_sound_frame =
            EndOfSoundFrame(m->frames, m->header_rate_num, m->header_rate_den);
        driver->silence_prime_size =
            SilencePrimeSize(rate, channels, driver->output_latency, ring_size);
        if (!driver->clock_ratio) driver->clock_ratio = 0x10000;
        m->total_memory += ring_size;
        m->played[kept] = t;
        m->drivers[kept] = driver.release();
        ++kept;
    }
    m->played_count = kept;
    m->sound_on = kept > 0;
}

}  // namespace

const char* GetLastMovieError() {
    return LastError().c_str();
}

void SetPendingFrameRate(int32_t numerator, int32_t denominator) {
    if (numerator == -1)
        Pending().frame_rate.reset();
    else
        Pending().frame_rate = OpenSettings::FrameRate{numerator, denominator};
}
void SetPendingTrackList(uint32_t count, const uint32_t* ids) {
    if (!ids) count = 0;
    if (count > kMaxTrackListLength) count = kMaxTrackListLength;
    Pending().tracks = std::vector<uint32_t>(ids, ids + count);
}
void SetPendingReadBufferSize(int32_t bytes) {
    if (bytes == -1)
        Pending().read_buffer_size.reset();
    else
        Pending().read_buffer_size = bytes;
}
void SetPendingReadSpeed(int32_t bytes_per_second) {
    if (bytes_per_second == -1)
        Pending().read_speed.reset();
    else
        Pending().read_speed = bytes_per_second;
}

int SetSoundSystem(SoundSystemGetter getter, void* argument) {
    if (!getter) return 0;
    SoundSystem& s = Sound();
    if (getter != s.getter && OpenSoundDriverCount() != 0) return 0;
    s.getter = getter;
    if (SoundOpener opener = getter(argument)) s.opener = opener;
    return s.opener ? 1 : 0;
}

void MovieSoundService(ServiceClient* client, uint32_t sweep) {
    RunSoundServiceOnThread(static_cast<Movie*>(client->owner));
    client->last_served_sweep.store(sweep);
}

Movie* OpenMovie(const void* source, uint32_t flags) {
    return OpenMovie(source, flags, TakePendingSettings(flags));
}

Movie* OpenMovie(const void* source, uint32_t flags, const OpenSettings& settings) {
    if (settings.frame_rate) flags |= kOpenUseFrameRate;
    if (settings.tracks) flags |= kOpenUseTrackList;
    if (settings.read_buffer_size) flags |= kOpenUseBufferSize;
    if (settings.read_speed) flags |= kOpenUseReadSpeed;
    const std::vector<uint32_t> ids = settings.tracks.value_or(std::vector<uint32_t>{0});
    LastError().clear();
    const uint32_t open_start = Milliseconds();
    if (!source) {
        SetError(kErrorOpeningFile);
        return nullptr;
    }
    const bool memory = (flags & kOpenInMemory) != 0;

    // Header.
    uint8_t header_bytes[kMovieHeaderSize];
    MovieIOPtr io;
    if (memory) {
        std::memcpy(header_bytes, source, kMovieHeaderSize);
    } else {
        io = OpenFileInput(source, flags & kOpenHandle);
        if (!io) {
            if (LastError().empty()) SetError(kErrorOpeningFile);
            return nullptr;
        }
        if (io->ReadDirect(0, header_bytes, kMovieHeaderSize) != kMovieHeaderSize ||
            io->ReadFailed()) {
            io->CloseInput();
            SetError(kErrorNotVemo);
            return nullptr;
        }
    }
    MovieHeader h;
    const HeaderStatus status = ParseMovieHeader(header_bytes, &h);
    if (status != HeaderStatus::kOk) {
        if (io) io->CloseInput();
        SetError(HeaderStatusText(status));
        return nullptr;
    }
    // Sizes that must be sane before anything is planned from them.
    const uint64_t movie_end = static_cast<uint64_t>(h.size) + 8;
    if (h.width == 0 || h.height == 0 || h.width > kMaxPictureSide || h.height > kMaxPictureSide ||
        h.audio_tracks > kMaxTableTracks || h.frames > h.index_length ||
        kMovieHeaderSize + TablesSize(h) > movie_end) {
        if (io) io->CloseInput();
        SetError(kErrorReadingHeader);
        return nullptr;
    }

    const uint32_t open_flags = ReaderTrackedFlags(flags, h);
    uint32_t width = h.width, height = h.height;
    switch ((open_flags & kOpenScaleMask) >> kOpenScaleShift) {
        case 1:
        case 2:
            height *= 2;
            break;
        case 3:
            width *= 2;
            break;
        case 4:
        case 5:
            width *= 2;
            height *= 2;
            break;
        default:
            break;
    }
    uint32_t rate_num = h.rate_num, rate_den = h.rate_den;
    if (settings.frame_rate) {
        rate_num = static_cast<uint32_t>(settings.frame_rate->numerator);
        rate_den = static_cast<uint32_t>(settings.frame_rate->denominator);
        if (rate_num == 0 || rate_den == 0) rate_num = rate_den = 0;  // as fast as possible
    }
    const uint32_t whole_fps = WholeFramesPerSecond(h.rate_num, h.rate_den);
    // The timing rings hold one second of frames; a rate beyond any real
    // movie's would make them absurdly large.
    if (whole_fps > kMaxWholeFramesPerSecond) {
        if (io) io->CloseInput();
        SetError(kErrorReadingHeader);
        return nullptr;
    }

    // The memory plan: the record and its arrays in one block.
    const uint32_t across = BlocksAcross(h.width), down = BlocksDown(h.height);
    const uint32_t block_count = across * down;
    const uint32_t requested = static_cast<uint32_t>(ids.size());
    const uint32_t room = requested ? requested : 1;
    BlockPool pool;
    uint8_t* change_map = nullptr;
    uint32_t* rings[kTimingRings] = {};
    SoundDriver** drivers = nullptr;
    uint32_t* played = nullptr;
    uint32_t* track_arrays = nullptr;
    uint32_t* index_words = nullptr;
    BundleBuffers bundles;
    pool.Request(&change_map, block_count + 16);
    for (auto& ring : rings) pool.Request(&ring, whole_fps * 4u);
    pool.Request(&drivers, room * sizeof(SoundDriver*));
    pool.Request(&played, room * 4u);
    if (!(open_flags & kOpenNoVideo)) RequestBundleBuffers(&pool, width, &bundles);
    if (!memory) {
        if (h.audio_tracks) pool.Request(&track_arrays, 12u * h.audio_tracks);
        pool.Request(&index_words, 4u * (static_cast<size_t>(h.index_length) + 1));
    }
    const size_t planned = pool.total();
    void* block = nullptr;
    if (!pool.Commit(&block, sizeof(Movie))) {
        if (io) io->CloseInput();
        SetError(kErrorOutOfMemory);
        return nullptr;
    }
    Movie* m = new (block) Movie();
    m->total_memory = static_cast<uint32_t>(planned + ((sizeof(Movie) + 31) & ~size_t{31}));
    m->io = std::move(io);
    std::memset(change_map, 0, block_count + 16);
    m->change_map = change_map;
    for (int i = 0; i < kTimingRings; ++i) {
        m->rings[i] = rings[i];
        std::memset(rings[i], 0, whole_fps * 4u);
    }
    m->drivers = drivers;
    m->played = played;
    std::memset(drivers, 0, room * sizeof(SoundDriver*));
    m->requested_tracks = requested;
    m->bundles = bundles;
    m->width = width;
    m->height = height;
    m->header_width = h.width;
    m->header_height = h.height;
    m->frames = h.frames;
    m->open_flags = open_flags;
    m->header_flags = h.flags;
    m->rate_num = rate_num;
    m->rate_den = rate_den;
    m->header_rate_num = h.rate_num;
    m->header_rate_den = h.rate_den;
    m->whole_fps = whole_fps;
    m->two_frame_time = TwoFrameTime(h.rate_num, h.rate_den);
    m->index_length = h.index_length;
    m->size_field = h.size;
    m->track_count = h.audio_tracks;
    m->blocks_across = across;
    m->blocks_down = down;
    m->block_count = block_count;
    m->full_copy_threshold = block_count / 4;
    m->memory_source = memory;

    // Tables.
    if (memory) {
        // Used in place when the host is little-endian and the words aligned;
        // otherwise copied into a block of their own.
        const uint8_t* base = static_cast<const uint8_t*>(source);
        m->preload_valid = 0;  // set once the index is known
        const uint32_t words = 3 * h.audio_tracks + h.index_length + 1;
        uint32_t* copy =
            static_cast<uint32_t*>(AllocateLibraryMemory(static_cast<size_t>(words) * 4));
        if (!copy) {
            FreeMovie(m);
            SetError(kErrorOutOfMemory);
            return nullptr;
        }
        for (uint32_t i = 0; i < words; ++i) copy[i] = ReadLe32(base + kMovieHeaderSize + 4 * i);
        m->table_copy = copy;
        m->total_memory += words * 4;
        track_arrays = copy;
        index_words = copy + 3 * h.audio_tracks;
    } else {
        if (!ReadWords(m->io.get(), track_arrays, 3 * h.audio_tracks) ||
            !ReadWords(m->io.get(), index_words, h.index_length + 1)) {
            FreeMovie(m);
            SetError(kErrorReadingHeader);
            return nullptr;
        }
    }
    m->track_buffer_size = track_arrays;
    m->track_format = track_arrays ? track_arrays + h.audio_tracks : nullptr;
    m->track_id = track_arrays ? track_arrays + 2 * h.audio_tracks : nullptr;
    m->index = index_words;
    if (CheckMovieTables(h, index_words)) {
        FreeMovie(m);
        SetError(kErrorReadingHeader);
        return nullptr;
    }
    m->first_frame_offset = IndexOffset(index_words[0]);
    if (memory) {
        m->preload_base = static_cast<const uint8_t*>(source) + m->first_frame_offset;
        m->preload_valid = static_cast<uint32_t>(movie_end - m->first_frame_offset);
    }
    uint32_t largest = 0;
    for (uint32_t i = 0; i < h.frames; ++i) {
        const uint32_t size = IndexOffset(index_words[i + 1]) - IndexOffset(index_words[i]);
        if (size > largest) largest = size;
    }
    m->largest_frame = largest;
    const PeakRate peak = PeakDataRate(index_words, h.frames, whole_fps);
    m->peak_rate = peak.rate;
    m->peak_frame = peak.frame;
    m->all_key_frames = AllKeyFrames(index_words, h.frames);

    // Planes.
    if (!(open_flags & kOpenNoVideo)) {
        m->planes = CreateFramePlanes(h.width, h.height, m->all_key_frames, open_flags);
        if (!m->planes) {
            FreeMovie(m);
            SetError(kErrorOutOfMemory);
            return nullptr;
        }
        const FramePlanes* p = m->planes;
        uint64_t plane_bytes = 0;
        for (uint32_t b = 0; b < p->buffer_count; ++b)
            for (int k = 0; k < 4; ++k)
                if (p->buffer[b][k].samples)
                    plane_bytes +=
                        static_cast<uint64_t>(p->buffer[b][k].stride) *
                        (k == kPlaneCr || k == kPlaneCb ? p->chroma_height : p->luma_height);
        m->total_memory += static_cast<uint32_t>(plane_bytes);
        m->video_on = true;
    }

    // Input buffering.
    const uint32_t movie_length =
        static_cast<uint32_t>(movie_end > 0xFFFFFFFFu ? 0xFFFFFFFFu : movie_end);
    const uint32_t read_speed = settings.read_speed.value_or(0) > 0
                                    ? static_cast<uint32_t>(*settings.read_speed)
                                    : 0;
    if (memory) {
        m->preloaded = true;
    } else {
        uint32_t offer = m->peak_rate;
        if (settings.read_buffer_size) offer = static_cast<uint32_t>(*settings.read_buffer_size);
        const uint32_t answer = m->io->GetBufferSize(offer);
        if (static_cast<uint64_t>(answer) * 10 >= static_cast<uint64_t>(h.size) * 9)
            m->open_flags |= kOpenPreloadMovie;
        if (m->open_flags & kOpenPreloadMovie) {
            const uint32_t bytes = movie_length - m->first_frame_offset;
            m->preload_block = static_cast<uint8_t*>(AllocateLibraryMemory(bytes ? bytes : 1));
            if (!m->preload_block) {
                FreeMovie(m);
                SetError(kErrorOutOfMemory);
                return nullptr;
            }
            m->total_memory += bytes;
            m->io->SetBuffer(nullptr, 0, movie_length, read_speed);
            const uint32_t got =
                m->io->ReadFrame(0, m->first_frame_offset, m->preload_block, bytes);
            m->io->CloseInput();
            // A movie that ends early plays up to its last whole frame.
            m->preload_base = m->preload_block;
            m->preload_valid = got;
            m->preloaded = true;
        } else {
            const uint64_t total = static_cast<uint64_t>(answer) + largest;
            if (total > kLargestLibraryBlock ||
                !(m->read_block = static_cast<uint8_t*>(
                      AllocateLibraryMemory(static_cast<size_t>(total ? total : 1))))) {
                FreeMovie(m);
                SetError(kErrorOutOfMemory);
                return nullptr;
            }
            m->total_memory += static_cast<uint32_t>(total);
            m->read_buffer_size = answer;
            m->frame_buffer = m->read_block + answer;
            m->io->SetBuffer(m->read_block, answer, movie_length, read_speed);
        }
    }

    // Frame 1.
    m->current_frame = 0xFFFFFFFFu;
    if (!(m->preloaded)) m->io->SetInputLock(SingleThreadInputLock());
    ReadMovieFrame(m, 1);
    m->current_frame = 1;
    m->open_time = Milliseconds() - open_start;

    // Sound.
    OpenTracks(m, ids);

    // Threads.
    if (m->played_count && m->drivers[0]->self_serviced == 0) {
        m->sound_client.urgency_operation = SoundServiceUrgency;
        m->sound_client.service_operation = MovieSoundService;
        m->sound_client.owner = m;
        // The sound service runs on its thread even without a background
        // reader (kOpenWithoutThreads concerns the input).
        if (RegisterServiceClient(&SoundServiceThread(), kSoundServiceRate, &m->sound_client))
            m->sound_registered = true;
    }
    if (!m->sound_registered) m->own_sound_lock = platform::NewMutex();
    if (!m->preloaded && !(m->open_flags & kOpenWithoutThreads)) {
        SetupReaderClient(&m->reader_client, m->io.get());
        m->io->SetInputLock(ClientInputLock(&m->reader_client));
        if (RegisterServiceClient(&BackgroundReaderThread(), kBackgroundReaderRate,
                                  &m->reader_client)) {
            m->reader_registered = true;
            m->threads = true;
        } else {
            // The reader cannot run: the input is serviced on this thread.
            m->io->SetInputLock(SingleThreadInputLock());
        }
    }

    // Fill the read buffer.
    if (!m->preloaded && !(m->open_flags & kOpenNoFill)) {
        for (int guard = 0; guard < 1 << 16; ++guard)
            if (m->io->ServiceInput() <= 0) break;
    }
    return m;
}

void CloseMovie(Movie* m) {
    if (!m) return;
    PauseMovie(m, 1);
    if (m->sound_registered) RemoveServiceClient(&SoundServiceThread(), &m->sound_client, true);
    m->sound_registered = false;
    if (m->reader_registered)
        RemoveServiceClient(&BackgroundReaderThread(), &m->reader_client, true);
    m->reader_registered = false;
    FreeMovie(m);
}

// Sound lock: the sound-service client's lock, or the movie's own.
platform::Mutex* SoundLock(Movie* m) {
    return m->sound_registered ? m->sound_client.lock : m->own_sound_lock;
}

void DecodeMovieAudio(Movie* m) {
    if (!m->played_count || !m->packet) return;
    const uint8_t* at = m->packet;
    uint32_t left = m->packet_size;
    platform::Mutex* lock = nullptr;
    for (uint32_t t = 0; t < m->track_count; ++t) {
        if (left < 4) break;
        const uint32_t length = ReadLe32(at);
        if (length > left - 4) break;
        const uint8_t* part = at + 4;
        at += 4 + length;
        left -= 4 + length;
        if (!length) continue;
        SoundDriver* driver = nullptr;
        for (uint32_t k = 0; k < m->played_count; ++k)
            if (m->played[k] == t) driver = m->drivers[k];
        if (!driver) continue;
        if (!lock && (lock = SoundLock(m))) platform::LockMutex(lock);
        RingSink sink(&driver->ring);
        DecodeAudioPart(static_cast<AudioDecoder*>(driver->decoder), part, length, &sink);
    }
    if (lock) platform::UnlockMutex(lock);
}

}  // namespace vemo
