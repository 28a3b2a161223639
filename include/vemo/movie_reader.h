// The movie reader: header, track table, frame index and frame packets of a
// movie in a file (alone, or at a byte offset inside a larger file:
// "name|offset") or in memory. Everything it hands out is checked against
// the movie's own tables and the bytes that are really there.
//
// The two parsing steps below it are for any reader of the format (the
// stream core reads the header first and the tables behind it afterwards,
// through its own input): each takes bytes already read and reports the
// stream core's error text plus a short description of the problem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vemo/container.h"
#include "vemo/platform.h"

namespace vemo {

// What a parsing step found wrong; ok() when nothing.
struct MovieProblem {
    const char* error = nullptr;   // one of the kError* texts
    const char* detail = nullptr;  // what exactly, or null when the text says it all
    bool ok() const { return error == nullptr; }
};

// Step 1: the 44 header bytes (size = bytes available). Checks the magic and
// version, the frame count, then what the tables are planned from: picture
// size, track count, frames within the index, a non-zero rate denominator
// and tables that end inside the movie.
MovieProblem ParseMovieHeaderBytes(const uint8_t* bytes, size_t size, MovieHeader* header);

// Host-order words of the tables behind the header: T buffer sizes, T
// formats, T IDs, then index length + 1 index entries.
inline size_t MovieTableWords(const MovieHeader& header) {
    return static_cast<size_t>(TablesSize(header) / 4);
}
// Step 2: the TablesSize(header) bytes behind the header, decoded into
// words (MovieTableWords entries; words may be the very memory of bytes) and
// checked: the index must rise from behind the tables to at most the movie's
// end. A short buffer is "Error reading Vemo header.".
MovieProblem ParseMovieTables(const MovieHeader& header, const uint8_t* bytes, size_t size,
                              uint32_t* words);
// The track arrays and the index inside those words.
TrackTable MovieTracks(const MovieHeader& header, const uint32_t* words);
inline const uint32_t* MovieIndex(const MovieHeader& header, const uint32_t* words) {
    return words + 3 * static_cast<size_t>(header.audio_tracks);
}

class MovieReader {
  public:
    MovieReader() = default;
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;
    ~MovieReader() { Close(); }

    // Reads the header and the tables of a movie file ("name" or
    // "name|offset"); packets are read from the file when asked for. False
    // with error() set on failure (the stream core's texts where one applies).
    bool Open(const std::string& name_or_name_offset);
    // The same for a whole movie held in memory.
    bool OpenMemory(std::vector<uint8_t> bytes);
    void Close();

    const std::string& error() const { return error_; }
    // What exactly was wrong, when the error text alone does not say.
    const std::string& detail() const { return detail_; }
    // error() and, when there is one, detail() after a space.
    std::string message() const;

    const MovieHeader& header() const { return header_; }
    const TrackTable& tracks() const { return tracks_; }
    const uint32_t* index() const { return index_; }
    bool all_key_frames() const { return AllKeyFrames(index_, header_.frames); }
    uint32_t open_flags() const;  // the version bits plus the header's grayscale bit

    // Frame i (0-based). False when it is no frame or its bytes are not all
    // there. The bytes stay valid until the next call (for a movie in
    // memory, as long as the reader).
    bool Packet(uint32_t i, const uint8_t** data, uint32_t* size);
    bool Parts(uint32_t i, PacketParts* parts);
    bool VideoPart(uint32_t i, const uint8_t** video, uint32_t* size);

  private:
    bool Fail(const MovieProblem& problem);
    bool ReadAt(uint64_t offset, uint32_t count, std::vector<uint8_t>* out);
    std::vector<uint8_t> memory_;          // the whole movie (memory source)
    platform::File file_;                  // the file source
    uint64_t base_ = 0;                    // file offset of the movie's first byte
    uint64_t file_at_ = kUnknownPosition;  // where the file stands, if known
    static constexpr uint64_t kUnknownPosition = ~uint64_t{0};
    std::vector<uint8_t> packet_;  // the last packet read from the file
    MovieHeader header_{};
    TrackTable tracks_{};
    std::vector<uint32_t> words_;  // track arrays then index, host order
    const uint32_t* index_ = nullptr;
    std::string error_;
    std::string detail_;
};

}  // namespace vemo
