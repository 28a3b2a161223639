// Finding string 16 in a PE file's resources, every read checked against the
// file's size.
#include <cstring>

#include "bundle.h"

namespace vemo::bundle {

namespace {

constexpr uint32_t kStringType = 6;   // the resource type of string tables
constexpr uint32_t kOptionBlock = 2;  // strings 16-31
constexpr uint32_t kSubdirectory = 0x80000000;
constexpr int kMaxSections = 96;

class Reader {
  public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool U16(size_t at, uint32_t* value) const {
        if (at > bytes_.size() || bytes_.size() - at < 2) return false;
        *value = bytes_[at] | (bytes_[at + 1] << 8);
        return true;
    }
    bool U32(size_t at, uint32_t* value) const {
        uint32_t low = 0, high = 0;
        if (!U16(at, &low) || !U16(at + 2, &high)) return false;
        *value = low | (high << 16);
        return true;
    }

  private:
    const std::vector<uint8_t>& bytes_;
};

struct Section {
    uint32_t address, size, raw_offset, raw_size;
};

// The file offset of a virtual address inside one of the sections.
bool FileOffsetOf(const Section* sections, int count, uint32_t rva, size_t* offset) {
    for (int i = 0; i < count; ++i) {
        const Section& s = sections[i];
        uint32_t span = s.size > s.raw_size ? s.raw_size : s.size;
        if (span == 0) span = s.raw_size;
        if (rva >= s.address && rva - s.address < span) {
            *offset = static_cast<size_t>(s.raw_offset) + (rva - s.address);
            return true;
        }
    }
    return false;
}

// The entry of a resource directory with the given ID (0xFFFFFFFF: the
// first ID entry); its offset word, relative to the resource start.
bool FindEntry(const Reader& r, size_t root, uint32_t directory, uint32_t id, uint32_t* data) {
    uint32_t named = 0, ids = 0;
    if (!r.U16(root + directory + 12, &named) || !r.U16(root + directory + 14, &ids)) return false;
    for (uint32_t i = named; i < named + ids; ++i) {
        uint32_t name = 0;
        size_t entry = root + directory + 16 + 8 * static_cast<size_t>(i);
        if (!r.U32(entry, &name) || !r.U32(entry + 4, data)) return false;
        if (id == 0xFFFFFFFF || name == id) return true;
    }
    return false;
}

bool ReadSections(const Reader& r, size_t table, uint32_t count, Section* sections) {
    for (uint32_t i = 0; i < count; ++i) {
        size_t s = table + 40 * static_cast<size_t>(i);
        if (!r.U32(s + 8, &sections[i].size) || !r.U32(s + 12, &sections[i].address) ||
            !r.U32(s + 16, &sections[i].raw_size) || !r.U32(s + 20, &sections[i].raw_offset)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FindPeOptionString(const std::vector<uint8_t>& player, size_t* at, size_t* length,
                        std::string* error) {
    Reader r(player);
    auto fail = [&](const char* text) {
        *error = text;
        return false;
    };
    uint32_t pe = 0, magic = 0, sections = 0, optional_size = 0, dirs = 0;
    if (player.size() < 64 || player[0] != 'M' || player[1] != 'Z' || !r.U32(0x3C, &pe) ||
        pe > player.size() - 24 || std::memcmp(player.data() + pe, "PE\0\0", 4) != 0) {
        return fail("the player is no Windows executable");
    }
    const size_t optional = pe + 24;
    if (!r.U16(pe + 6, &sections) || !r.U16(pe + 20, &optional_size) || !r.U16(optional, &magic) ||
        (magic != 0x10b && magic != 0x20b) || sections == 0 || sections > kMaxSections) {
        return fail("the player's PE headers are damaged");
    }
    const size_t directories = optional + (magic == 0x10b ? 96 : 112);
    uint32_t resource_rva = 0;
    if (!r.U32(directories - 4, &dirs) || dirs < 3 || !r.U32(directories + 16, &resource_rva) ||
        resource_rva == 0) {
        return fail("the player has no resources");
    }
    Section table[kMaxSections];
    if (!ReadSections(r, optional + optional_size, sections, table)) {
        return fail("the player's section table is cut short");
    }
    size_t root = 0;
    if (!FileOffsetOf(table, static_cast<int>(sections), resource_rva, &root)) {
        return fail("the player's resources lie outside its sections");
    }
    uint32_t type = 0, block = 0, language = 0;
    if (!FindEntry(r, root, 0, kStringType, &type) || !(type & kSubdirectory) ||
        !FindEntry(r, root, type & ~kSubdirectory, kOptionBlock, &block) ||
        !(block & kSubdirectory) ||
        !FindEntry(r, root, block & ~kSubdirectory, 0xFFFFFFFF, &language) ||
        (language & kSubdirectory)) {
        return fail("the player has no option string (string 16)");
    }
    uint32_t data_rva = 0, data_size = 0, count = 0;
    size_t data = 0;
    if (!r.U32(root + language, &data_rva) || !r.U32(root + language + 4, &data_size) ||
        !FileOffsetOf(table, static_cast<int>(sections), data_rva, &data) || !r.U16(data, &count)) {
        return fail("the player's string table lies outside the file");
    }
    // String 16 is the first of its block: its length, then its characters.
    if (data_size > player.size() - data) {
        return fail("the player's string table is cut short");
    }
    if (count == 0 || 2 + 2 * static_cast<size_t>(count) > data_size) {
        return fail("the player's option string is cut short");
    }
    *at = data + 2;
    *length = count;
    return true;
}

}  // namespace vemo::bundle
