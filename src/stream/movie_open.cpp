// Opening and closing movies, the last error, the sound system and the
// pending open settings.
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "movie_internal.h"
#include "sound_track.h"
#include "vemo/memory.h"
#include "vemo/movie_reader.h"
#include "vemo/platform.h"
#include "vemo/timer.h"

namespace vemo {

namespace {

constexpr uint32_t kMaxTrackListLength = 256;
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
    if (flags & kOpenUseBufferSize)
        taken.read_buffer_size = std::exchange(pending.read_buffer_size, {});
    if (flags & kOpenUseReadSpeed) taken.read_speed = std::exchange(pending.read_speed, {});
    return taken;
}

// ---- sound system
struct SoundSystem {
    SoundSystemGetter getter = nullptr;
    const SoundBackEnd* back_end = nullptr;
};
SoundSystem& Sound() {
    static SoundSystem system;
    return system;
}

uint32_t ReaderTrackedFlags(uint32_t caller_flags, const MovieHeader& h) {
    uint32_t flags = caller_flags | (h.flags & kHeaderGrayscale);
    if (!(h.flags & kHeaderAlpha)) flags &= ~kOpenDecodeAlpha;
    const uint32_t caller_mode = (caller_flags & kOpenScaleMask) >> kOpenScaleShift;
    const uint32_t header_mode = (h.flags & kHeaderScalingMask) >> kHeaderScalingShift;
    flags &= ~kOpenScaleMask;
    // A caller's 7 asks for the movie's own size here and leaves every copy
    // free to choose; a header's 7 is kept, so that it forces every copy of
    // this movie unscaled (the copy ORs the open flags' mode into its own).
    uint32_t mode = 0;
    if (caller_mode >= 1 && caller_mode <= 6)
        mode = caller_mode;
    else if (caller_mode == 0)
        mode = header_mode;
    flags |= mode << kOpenScaleShift;
    flags |= VersionOpenFlags(h.version);
    return flags;
}

// The input of an open before the movie owns it.
struct InputGuard {
    MovieIOPtr io;
    InputGuard() = default;
    InputGuard(const InputGuard&) = delete;
    InputGuard& operator=(const InputGuard&) = delete;
    ~InputGuard() {
        if (io) io->CloseInput();
    }
};

void DestroyMovie(Movie* m) {
    if (!m) return;
    m->~Movie();  // the parts tear themselves down
    FreeLibraryMemory(m);
}
struct MovieDeleter {
    void operator()(Movie* m) const { DestroyMovie(m); }
};
using MoviePtr = std::unique_ptr<Movie, MovieDeleter>;

// What an open settles from the header and the caller before planning.
struct OpenPlan {
    MovieHeader h;
    bool memory = false;
    uint64_t movie_end = 0;  // size field + 8
    uint32_t open_flags = 0;
    uint32_t width = 0, height = 0;  // as played
    uint32_t rate_num = 0, rate_den = 0;
    uint32_t whole_fps = 1;
    uint32_t requested_tracks = 0;
};

bool Fail(const char* text) {
    SetError(text);
    return false;
}

// The header, from memory or through a new file input, checked for what
// the open plans from. A file must really hold the tables the header
// announces before anything is allocated for them.
bool ReadHeader(const void* source, uint32_t flags, InputGuard* input, MovieHeader* h) {
    uint8_t bytes[kMovieHeaderSize];
    size_t got = kMovieHeaderSize;
    if (flags & kOpenInMemory) {
        std::memcpy(bytes, source, kMovieHeaderSize);
    } else {
        input->io = OpenFileInput(source, flags & kOpenHandle);
        if (!input->io) return LastError().empty() ? Fail(kErrorOpeningFile) : false;
        got = input->io->ReadDirect(0, bytes, kMovieHeaderSize);
        if (input->io->ReadFailed()) got = 0;
    }
    const MovieProblem problem = ParseMovieHeaderBytes(bytes, got, h);
    if (!problem.ok()) return Fail(problem.error);
    if (flags & kOpenInMemory) return true;
    // The header check keeps the tables inside the movie (below 4 GB + 8);
    // the last table word is read back as a probe of the file's length.
    const uint64_t last_word = kMovieHeaderSize + TablesSize(*h) - 4;
    uint8_t probe[4];
    if (last_word >= kCurrentPosition ||
        input->io->ReadDirect(static_cast<uint32_t>(last_word), probe, 4) != 4 ||
        input->io->ReadFailed())
        return Fail(kErrorReadingHeader);
    return true;
}

// Checks the sizes everything is planned from, then combines the flags and
// settles the played size and rate.
bool SettleOpen(const MovieHeader& h, uint32_t flags, const OpenSettings& settings,
                OpenPlan* plan) {
    plan->h = h;
    plan->memory = (flags & kOpenInMemory) != 0;
    plan->movie_end = static_cast<uint64_t>(h.size) + 8;
    plan->open_flags = ReaderTrackedFlags(flags, h);
    plan->width = h.width;
    plan->height = h.height;
    const uint32_t mode = (plan->open_flags & kOpenScaleMask) >> kOpenScaleShift;
    if (mode >= 3 && mode <= 5) plan->width *= 2;
    if (mode == 1 || mode == 2 || mode == 4 || mode == 5) plan->height *= 2;
    plan->rate_num = h.rate_num;
    plan->rate_den = h.rate_den;
    if (settings.frame_rate) {
        plan->rate_num = static_cast<uint32_t>(settings.frame_rate->numerator);
        plan->rate_den = static_cast<uint32_t>(settings.frame_rate->denominator);
        if (plan->rate_num == 0 || plan->rate_den == 0) plan->rate_num = plan->rate_den = 0;
    }
    plan->whole_fps = WholeFramesPerSecond(h.rate_num, h.rate_den);
    // The timing rings hold one second of frames; a rate beyond any real
    // movie's would make them absurdly large.
    if (plan->whole_fps > kMaxWholeFramesPerSecond) return Fail(kErrorReadingHeader);
    return true;
}

// The memory plan: the record and its arrays in one block, in this order.
MoviePtr AllocateMovie(const OpenPlan& plan, InputGuard* input) {
    const MovieHeader& h = plan.h;
    const uint32_t across = BlocksAcross(h.width), down = BlocksDown(h.height);
    const uint32_t block_count = across * down;
    const uint32_t room = plan.requested_tracks ? plan.requested_tracks : 1;
    BlockPool pool;
    uint8_t* change_map = nullptr;
    uint32_t* rings[kTimingRings] = {};
    SoundTrack** sound_tracks = nullptr;
    uint32_t* played = nullptr;
    uint32_t* track_arrays = nullptr;
    uint32_t* index_words = nullptr;
    BundleBuffers bundles;
    pool.Request(&change_map, block_count + 16);
    for (auto& ring : rings) pool.Request(&ring, plan.whole_fps * 4u);
    pool.Request(&sound_tracks, room * sizeof(SoundTrack*));
    pool.Request(&played, room * 4u);
    if (!(plan.open_flags & kOpenNoVideo)) RequestBundleBuffers(&pool, plan.width, &bundles);
    if (!plan.memory) {
        if (h.audio_tracks) pool.Request(&track_arrays, 12u * h.audio_tracks);
        pool.Request(&index_words, 4u * (static_cast<size_t>(h.index_length) + 1));
    }
    const size_t planned = pool.total();
    void* block = nullptr;
    if (!pool.Commit(&block, sizeof(Movie))) {
        Fail(kErrorOutOfMemory);
        return nullptr;
    }
    MoviePtr m(new (block) Movie());
    m->stats.total_memory = static_cast<uint32_t>(planned + ((sizeof(Movie) + 31) & ~size_t{31}));
    m->source.io = std::move(input->io);
    std::memset(change_map, 0, block_count + 16);
    for (int i = 0; i < kTimingRings; ++i) {
        m->stats.rings[i] = rings[i];
        std::memset(rings[i], 0, plan.whole_fps * 4u);
    }
    std::memset(sound_tracks, 0, room * sizeof(SoundTrack*));
    m->tracks.sound_tracks = sound_tracks;
    m->tracks.played = played;
    m->tracks.requested = plan.requested_tracks;
    MoviePicture& pic = m->picture;
    pic.change_map = change_map;
    pic.bundles = bundles;
    pic.blocks_across = across;
    pic.blocks_down = down;
    pic.block_count = block_count;
    pic.full_copy_threshold = block_count / 4;
    // Planned table space; LoadTables fills it (or points into memory).
    m->source.track_buffer_size = track_arrays;
    m->source.index = index_words;
    return m;
}

void DescribeMovie(Movie* m, const OpenPlan& plan) {
    const MovieHeader& h = plan.h;
    m->width = plan.width;
    m->height = plan.height;
    m->header_width = h.width;
    m->header_height = h.height;
    m->frames = h.frames;
    m->open_flags = plan.open_flags;
    m->header_flags = h.flags;
    m->header_rate_num = h.rate_num;
    m->header_rate_den = h.rate_den;
    m->whole_fps = plan.whole_fps;
    m->clock.rate_num = plan.rate_num;
    m->clock.rate_den = plan.rate_den;
    m->clock.two_frame_time = TwoFrameTime(h.rate_num, h.rate_den);
    m->source.index_length = h.index_length;
    m->source.size_field = h.size;
    m->source.track_count = h.audio_tracks;
    m->source.memory_source = plan.memory;
}

// The track table and the frame index in host order: for a memory source
// straight from its bytes into a block of their own; for a file read into a
// scratch block, checked there and copied into the planned space (the track
// arrays and the index, apart). Then the figures taken from the index.
bool LoadTables(Movie* m, const OpenPlan& plan, const void* source) {
    const MovieHeader& h = plan.h;
    FrameFeed& f = m->source;
    const auto size = static_cast<uint32_t>(TablesSize(h));  // inside the movie: below 4 GB
    LibraryPtr<uint32_t> words(static_cast<uint32_t*>(AllocateLibraryMemory(size)));
    if (!words) return Fail(kErrorOutOfMemory);
    const uint8_t* bytes = static_cast<const uint8_t*>(source) + kMovieHeaderSize;
    uint32_t got = size;
    if (!plan.memory) {
        got = f.io->ReadDirect(kMovieHeaderSize, words.get(), size);
        if (f.io->ReadFailed()) got = 0;
        bytes = reinterpret_cast<const uint8_t*>(words.get());
    }
    const MovieProblem problem = ParseMovieTables(h, bytes, got, words.get());
    if (!problem.ok()) return Fail(problem.error);
    const uint32_t* track_arrays = f.track_buffer_size;  // the planned space (file)
    const uint32_t* index_words = f.index;
    if (plan.memory) {
        m->stats.total_memory += size;
        f.table_copy = std::move(words);
        track_arrays = f.table_copy.get();
        index_words = MovieIndex(h, track_arrays);
    } else {
        if (h.audio_tracks)
            std::memcpy(const_cast<uint32_t*>(track_arrays), words.get(), 12u * h.audio_tracks);
        std::memcpy(const_cast<uint32_t*>(index_words), MovieIndex(h, words.get()),
                    4u * (size_t{h.index_length} + 1));
    }
    const TrackTable tracks = MovieTracks(h, track_arrays);
    f.track_buffer_size = tracks.buffer_size;
    f.track_format = tracks.format;
    f.track_id = tracks.id;
    f.index = index_words;
    f.first_frame_offset = IndexOffset(index_words[0]);
    if (plan.memory) {
        f.preload_base = static_cast<const uint8_t*>(source) + f.first_frame_offset;
        f.preload_valid = static_cast<uint32_t>(plan.movie_end - f.first_frame_offset);
    }
    for (uint32_t i = 0; i < h.frames; ++i) {
        const uint32_t bytes_of_frame =
            IndexOffset(index_words[i + 1]) - IndexOffset(index_words[i]);
        if (bytes_of_frame > f.largest_frame) f.largest_frame = bytes_of_frame;
    }
    const PeakRate peak = PeakDataRate(index_words, h.frames, plan.whole_fps);
    f.peak_rate = peak.rate;
    f.peak_frame = peak.frame;
    f.all_key_frames = AllKeyFrames(index_words, h.frames);
    return true;
}

// The decoder's planes (one buffer of each when every frame is a key frame).
bool CreatePicture(Movie* m) {
    if (m->open_flags & kOpenNoVideo) return true;
    MoviePicture& pic = m->picture;
    pic.planes = CreateFramePlanes(m->header_width, m->header_height, m->source.all_key_frames,
                                   m->open_flags);
    if (!pic.planes) return Fail(kErrorOutOfMemory);
    const FramePlanes* p = pic.planes;
    uint64_t plane_bytes = 0;
    for (uint32_t b = 0; b < p->buffer_count; ++b)
        for (int k = 0; k < 4; ++k)
            if (p->buffer[b][k].samples)
                plane_bytes += static_cast<uint64_t>(p->buffer[b][k].stride) *
                               (k == kPlaneCr || k == kPlaneCb ? p->chroma_height : p->luma_height);
    m->stats.total_memory += static_cast<uint32_t>(plane_bytes);
    pic.video_on = true;
    return true;
}

// Reads the whole movie (from the first frame on) into one block.
bool PreloadMovie(Movie* m, uint32_t movie_length, uint32_t read_speed) {
    FrameFeed& f = m->source;
    const uint32_t bytes = movie_length - f.first_frame_offset;
    f.preload_block.reset(static_cast<uint8_t*>(AllocateLibraryMemory(bytes ? bytes : 1)));
    if (!f.preload_block) return Fail(kErrorOutOfMemory);
    m->stats.total_memory += bytes;
    f.io->SetBuffer(nullptr, 0, movie_length, read_speed);
    const uint32_t got = f.io->ReadFrame(0, f.first_frame_offset, f.preload_block.get(), bytes);
    f.io->CloseInput();
    // A movie that ends early plays up to its last whole frame.
    f.preload_base = f.preload_block.get();
    f.preload_valid = got;
    f.preloaded = true;
    return true;
}

// The read buffer (the input's answer to the offered size) followed by the
// frame buffer, or the whole movie when the answer nears its size.
bool SetUpInput(Movie* m, const OpenPlan& plan, const OpenSettings& settings) {
    FrameFeed& f = m->source;
    if (plan.memory) {
        f.preloaded = true;
        return true;
    }
    const uint32_t movie_length =
        static_cast<uint32_t>(plan.movie_end > 0xFFFFFFFFu ? 0xFFFFFFFFu : plan.movie_end);
    const uint32_t read_speed =
        settings.read_speed.value_or(0) > 0 ? static_cast<uint32_t>(*settings.read_speed) : 0;
    uint32_t offer = f.peak_rate;
    if (settings.read_buffer_size) offer = static_cast<uint32_t>(*settings.read_buffer_size);
    const uint32_t answer = f.io->GetBufferSize(offer);
    if (static_cast<uint64_t>(answer) * 10 >= static_cast<uint64_t>(plan.h.size) * 9)
        m->open_flags |= kOpenPreloadMovie;
    if (m->open_flags & kOpenPreloadMovie) return PreloadMovie(m, movie_length, read_speed);
    const uint64_t total = static_cast<uint64_t>(answer) + f.largest_frame;
    if (total > kLargestLibraryBlock) return Fail(kErrorOutOfMemory);
    f.read_block.reset(
        static_cast<uint8_t*>(AllocateLibraryMemory(static_cast<size_t>(total ? total : 1))));
    if (!f.read_block) return Fail(kErrorOutOfMemory);
    m->stats.total_memory += static_cast<uint32_t>(total);
    f.read_buffer_size = answer;
    f.frame_buffer = f.read_block.get() + answer;
    f.io->SetBuffer(f.read_block.get(), answer, movie_length, read_speed);
    return true;
}

// The playback sample rate of a track: its own, or scaled by the override.
uint32_t PlayRate(const Movie* m, uint32_t rate) {
    const MovieClock& c = m->clock;
    if (!(m->open_flags & kOpenUseFrameRate) || !c.rate_num || !c.rate_den || !m->header_rate_num)
        return rate;
    const uint64_t num = static_cast<uint64_t>(rate) * c.rate_num * m->header_rate_den;
    const uint64_t den = static_cast<uint64_t>(m->header_rate_num) * c.rate_den;
    const uint64_t r = (num + den / 2) / den;
    return r > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(r);
}

// For each ID in list order the first track with it (each track once).
uint32_t SelectTracks(Movie* m, const std::vector<uint32_t>& ids) {
    PlayedTracks& t = m->tracks;
    const FrameFeed& f = m->source;
    uint32_t selected = 0;
    for (uint32_t id : ids) {
        if (selected >= t.requested) break;
        for (uint32_t k = 0; k < f.track_count; ++k)
            if (f.track_id[k] == id) {
                bool taken = false;
                for (uint32_t j = 0; j < selected; ++j) taken = taken || t.played[j] == k;
                if (!taken) t.played[selected++] = k;
                break;
            }
    }
    return selected;
}

// Opens the played tracks; those that cannot be opened are dropped.
void OpenTracks(Movie* m, const std::vector<uint32_t>& ids) {
    PlayedTracks& t = m->tracks;
    const uint32_t selected = SelectTracks(m, ids);
    const SoundBackEnd* back_end = Sound().back_end;
    PlayedTrackSetup setup;
    setup.open_flags = m->open_flags;
    setup.movie.frames = m->frames;
    setup.movie.rate_numerator = m->header_rate_num;
    setup.movie.rate_denominator = m->header_rate_den;
    uint32_t kept = 0;
    for (uint32_t k = 0; k < selected; ++k) {
        const uint32_t index = t.played[k];
        setup.format = m->source.track_format[index];
        setup.buffer_size = m->source.track_buffer_size[index];
        setup.play_rate = PlayRate(m, TrackRate(setup.format));
        SoundTrack* track = OpenPlayedTrack(back_end, setup);
        if (!track) continue;
        m->stats.total_memory += track->ring.size();
        t.played[kept] = index;
        t.sound_tracks[kept] = track;
        t.count = ++kept;
    }
    t.sound_on = kept > 0;
}

// The sound service and the background reader, each when the movie needs it.
void RegisterServices(Movie* m) {
    PlayedTracks& t = m->tracks;
    if (t.count && t.sound_tracks[0]->device_info.self_serviced == 0) {
        t.client.urgency_operation = SoundServiceUrgency;
        t.client.service_operation = MovieSoundService;
        t.client.owner = m;
        // The sound service runs on its thread even without a background
        // reader (kOpenWithoutThreads concerns the input). Its first sweep
        // may come before RegisterServiceClient returns and asks for the
        // sound lock, so the flag that picks the lock is set before the
        // client is published (a client that was not linked is never served).
        t.registered = true;
        if (!RegisterServiceClient(&SoundServiceThread(), kSoundServiceRate, &t.client))
            t.registered = false;
    }
    if (!t.registered) t.own_lock = platform::NewMutex();
    FrameFeed& f = m->source;
    if (f.preloaded || (m->open_flags & kOpenWithoutThreads)) return;
    SetupReaderClient(&f.reader_client, f.io.get());
    f.io->SetInputLock(ClientInputLock(&f.reader_client));
    if (RegisterServiceClient(&BackgroundReaderThread(), kBackgroundReaderRate, &f.reader_client)) {
        f.reader_registered = true;
        f.threads = true;
    } else {
        // The reader cannot run: the input is serviced on this thread.
        f.io->SetInputLock(SingleThreadInputLock());
    }
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
    if (const SoundBackEnd* back_end = getter(argument)) s.back_end = back_end;
    return s.back_end ? 1 : 0;
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
    const std::vector<uint32_t> ids =
        settings.tracks.value_or(std::vector<uint32_t>{kDefaultTrackId});
    LastError().clear();
    const uint32_t open_start = Milliseconds();
    if (!source) {
        SetError(kErrorOpeningFile);
        return nullptr;
    }

    // Each step sets the last error when it fails; whatever was set up by
    // then is torn down with the input guard and the movie pointer.
    InputGuard input;
    MovieHeader h;
    OpenPlan plan;
    plan.requested_tracks = static_cast<uint32_t>(ids.size());
    if (!ReadHeader(source, flags, &input, &h) || !SettleOpen(h, flags, settings, &plan))
        return nullptr;
    MoviePtr m = AllocateMovie(plan, &input);
    if (!m) return nullptr;
    DescribeMovie(m.get(), plan);
    if (!LoadTables(m.get(), plan, source) || !CreatePicture(m.get()) ||
        !SetUpInput(m.get(), plan, settings))
        return nullptr;
    SetUpDecodeThreads(m.get(), settings.decode_threads.value_or(1));

    // Frame 1.
    m->current_frame = 0xFFFFFFFFu;
    if (!m->source.preloaded) m->source.io->SetInputLock(SingleThreadInputLock());
    ReadMovieFrame(m.get(), 1);
    m->current_frame = 1;
    m->stats.open_time = Milliseconds() - open_start;

    OpenTracks(m.get(), ids);
    RegisterServices(m.get());
    if (!(m->open_flags & kOpenNoFill)) PumpInput(m.get(), PumpReason::kOpen);
    return m.release();
}

void CloseMovie(Movie* m) {
    if (!m) return;
    CancelVideoAhead(m, true);
    PauseMovie(m, 1);
    // The services stop before anything they touch goes.
    m->tracks.Unregister();
    m->source.Unregister();
    DestroyMovie(m);
}

// ---------------------------------------------------------------- the parts' tear-down
void PlayedTracks::Unregister() {
    if (registered) RemoveServiceClient(&SoundServiceThread(), &client, true);
    registered = false;
}

PlayedTracks::~PlayedTracks() {
    Unregister();
    for (uint32_t i = 0; i < count; ++i) {
        ClosePlayedTrack(sound_tracks[i]);
        sound_tracks[i] = nullptr;
    }
    count = 0;
    if (own_lock) platform::DestroyMutex(own_lock);
}

platform::Mutex* PlayedTracks::Lock() const {
    return registered ? client.lock : own_lock;
}

SoundTrack* PlayedTracks::TrackOf(uint32_t track) const {
    SoundTrack* found = nullptr;
    for (uint32_t k = 0; k < count; ++k)
        if (played[k] == track) found = sound_tracks[k];
    return found;
}

void FrameFeed::Unregister() {
    if (reader_registered) RemoveServiceClient(&BackgroundReaderThread(), &reader_client, true);
    reader_registered = false;
}

FrameFeed::~FrameFeed() {
    Unregister();
    if (io) io->CloseInput();
}

MoviePicture::~MoviePicture() {
    FreeFramePlanes(planes);
}

platform::Mutex* SoundLock(Movie* m) {
    return m->tracks.Lock();
}

void DecodeMovieAudio(Movie* m) {
    if (!m->tracks.count || !m->source.packet) return;
    const uint8_t* at = m->source.packet;
    uint32_t left = m->source.packet_size;
    platform::Mutex* lock = nullptr;
    for (uint32_t t = 0; t < m->source.track_count; ++t) {
        if (left < 4) break;
        const uint32_t length = ReadLe32(at);
        if (length > left - 4) break;
        const uint8_t* part = at + 4;
        at += 4 + length;
        left -= 4 + length;
        if (!length) continue;
        SoundTrack* track = m->tracks.TrackOf(t);
        if (!track) continue;
        if (!lock && (lock = SoundLock(m))) platform::LockMutex(lock);
        DecodeIntoTrack(track, part, length);
    }
    if (lock) platform::UnlockMutex(lock);
}

}  // namespace vemo
