#include "vemo/movie_reader.h"

#include <algorithm>
#include <cstring>

namespace vemo {

namespace {

constexpr uint32_t kReadChunk = 65536;
const uint8_t kNoBytes[1] = {0};  // where an empty packet points

}  // namespace

MovieProblem ParseMovieHeaderBytes(const uint8_t* bytes, size_t size, MovieHeader* header) {
    if (!bytes || size < kMovieHeaderSize) return {kErrorNotVemo, nullptr};
    const HeaderStatus status = ParseMovieHeader(bytes, header);
    if (status != HeaderStatus::kOk) return {HeaderStatusText(status), nullptr};
    if (const char* problem = CheckMovieHeader(*header)) return {kErrorReadingHeader, problem};
    return {};
}

MovieProblem ParseMovieTables(const MovieHeader& header, const uint8_t* bytes, size_t size,
                              uint32_t* words) {
    if (const char* problem = CheckMovieHeader(header)) return {kErrorReadingHeader, problem};
    const size_t count = MovieTableWords(header);
    if (size / 4 < count || (count && !bytes))
        return {kErrorReadingHeader, "the file ends inside the track table or the frame index"};
    for (size_t i = 0; i < count; ++i) {
        uint8_t b[4];
        std::memcpy(b, bytes + 4 * i, 4);  // bytes and words may be the same memory
        words[i] = ReadLe32(b);
    }
    if (const char* problem = CheckMovieTables(header, MovieIndex(header, words)))
        return {kErrorReadingHeader, problem};
    return {};
}

TrackTable MovieTracks(const MovieHeader& header, const uint32_t* words) {
    TrackTable t;
    t.count = header.audio_tracks;
    t.buffer_size = words;
    t.format = words + t.count;
    t.id = words + 2 * static_cast<size_t>(t.count);
    return t;
}

// ---------------------------------------------------------------- MovieReader

void MovieReader::Close() {
    if (file_.valid()) platform::CloseFile(file_);
    file_ = platform::File{};
    file_at_ = kUnknownPosition;
    memory_.clear();
    packet_.clear();
    words_.clear();
    header_ = MovieHeader{};
    tracks_ = TrackTable{};
    index_ = nullptr;
    base_ = 0;
}

bool MovieReader::Fail(const MovieProblem& problem) {
    error_ = problem.error;
    detail_ = problem.detail ? problem.detail : "";
    Close();
    return false;
}

std::string MovieReader::message() const {
    return detail_.empty() ? error_ : error_ + " " + detail_;
}

// Reads count bytes at movie offset `offset` from the file, in chunks, so
// that what is held never runs ahead of what the file really has.
bool MovieReader::ReadAt(uint64_t offset, uint32_t count, std::vector<uint8_t>* out) {
    out->clear();
    // Frames are mostly read in file order: no seek when the file already
    // stands at the offset.
    if (file_at_ != base_ + offset) {
        file_at_ = kUnknownPosition;
        if (!platform::SeekFile(file_, base_ + offset)) return false;
    }
    file_at_ = kUnknownPosition;
    while (out->size() < count) {
        const uint32_t want =
            std::min<uint32_t>(kReadChunk, count - static_cast<uint32_t>(out->size()));
        const size_t at = out->size();
        out->resize(at + want);
        const uint32_t got = platform::ReadFile(file_, out->data() + at, want);
        out->resize(at + got);
        if (got < want) return false;
    }
    file_at_ = base_ + offset + count;
    return true;
}

bool MovieReader::Open(const std::string& movie_name) {
    Close();
    error_.clear();
    detail_.clear();
    std::string name = movie_name;
    const size_t bar = movie_name.rfind('|');
    if (bar != std::string::npos) {
        name = movie_name.substr(0, bar);
        const std::string digits = movie_name.substr(bar + 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            digits.size() > 15) {
            error_ = "Bad byte offset after '|': " + digits;
            return false;
        }
        base_ = std::stoull(digits);
    }
    file_ = platform::OpenFileForReading(name.c_str());
    if (!file_.valid()) return Fail({kErrorOpeningFile, nullptr});
    std::vector<uint8_t> bytes;
    ReadAt(0, kMovieHeaderSize, &bytes);
    MovieProblem problem = ParseMovieHeaderBytes(bytes.data(), bytes.size(), &header_);
    if (!problem.ok()) return Fail(problem);
    // Within 4 GB: the header check keeps the tables inside the movie.
    const auto tables = static_cast<uint32_t>(TablesSize(header_));
    ReadAt(kMovieHeaderSize, tables, &bytes);
    words_.resize(bytes.size() / 4);
    problem = ParseMovieTables(header_, bytes.data(), bytes.size(), words_.data());
    if (!problem.ok()) return Fail(problem);
    tracks_ = MovieTracks(header_, words_.data());
    index_ = MovieIndex(header_, words_.data());
    return true;
}

bool MovieReader::OpenMemory(std::vector<uint8_t> bytes) {
    Close();
    error_.clear();
    detail_.clear();
    memory_ = std::move(bytes);
    MovieProblem problem = ParseMovieHeaderBytes(memory_.data(), memory_.size(), &header_);
    if (!problem.ok()) return Fail(problem);
    const uint8_t* tables = memory_.data() + kMovieHeaderSize;
    const size_t available = memory_.size() - kMovieHeaderSize;
    words_.resize(std::min(available / 4, MovieTableWords(header_)));
    problem = ParseMovieTables(header_, tables, available, words_.data());
    if (!problem.ok()) return Fail(problem);
    tracks_ = MovieTracks(header_, words_.data());
    index_ = MovieIndex(header_, words_.data());
    return true;
}

uint32_t MovieReader::open_flags() const {
    return VersionOpenFlags(header_.version) | (header_.flags & kHeaderGrayscale);
}

bool MovieReader::Packet(uint32_t i, const uint8_t** data, uint32_t* size) {
    if (!index_ || i >= header_.frames) return false;
    const uint32_t begin = IndexOffset(index_[i]);
    const uint32_t end = IndexOffset(index_[i + 1]);
    if (end < begin) return false;
    if (file_.valid()) {
        if (!ReadAt(begin, end - begin, &packet_)) return false;
        *data = packet_.empty() ? kNoBytes : packet_.data();
    } else {
        if (end > memory_.size()) return false;
        *data = memory_.data() + begin;
    }
    *size = end - begin;
    return true;
}

bool MovieReader::Parts(uint32_t i, PacketParts* parts) {
    const uint8_t* data;
    uint32_t size;
    return Packet(i, &data, &size) && SplitPacket(data, size, header_.audio_tracks, parts);
}

bool MovieReader::VideoPart(uint32_t i, const uint8_t** video, uint32_t* size) {
    const uint8_t* data;
    uint32_t packet_size;
    return Packet(i, &data, &packet_size) &&
           FindVideoPart(data, packet_size, header_.audio_tracks, video, size);
}

}  // namespace vemo
