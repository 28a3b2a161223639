#include "bundle.h"

#include <algorithm>
#include <cstring>

namespace vemo::bundle {

bool FindOptionString(const std::vector<uint8_t>& player, size_t* at, std::string* error) {
    const auto* marker = reinterpret_cast<const uint8_t*>(kOptionMarker);
    auto first = std::search(player.begin(), player.end(), marker, marker + kOptionMarkerLength);
    if (first == player.end()) {
        *error = "the player has no option string (is it vemoplay?)";
        return false;
    }
    auto second = std::search(first + 1, player.end(), marker, marker + kOptionMarkerLength);
    if (second != player.end()) {
        *error = "the player holds its option string marker twice";
        return false;
    }
    size_t start = static_cast<size_t>(first - player.begin()) + kOptionMarkerLength;
    if (player.size() - start < kOptionCapacity + 1) {
        *error = "the player's option string is cut short";
        return false;
    }
    *at = start;
    return true;
}

std::string BundleOptionText(uint64_t offset, const std::string& options) {
    std::string text(1, ':');
    text.append(std::to_string(offset));
    if (!options.empty()) {
        text.push_back(' ');
        text.append(options);
    }
    return text;
}

bool MakeBundle(const std::vector<uint8_t>& player, const std::vector<uint8_t>& movie,
                const std::string& options, std::vector<uint8_t>* out, std::string* error) {
    const bool windows = player.size() >= 2 && player[0] == 'M' && player[1] == 'Z';
    size_t at = 0, capacity = kOptionCapacity;
    if (windows ? !FindPeOptionString(player, &at, &capacity, error)
                : !FindOptionString(player, &at, error)) {
        return false;
    }
    if (options.find('~') != std::string::npos) {
        *error = "the options may not hold '~'";
        return false;
    }
    capacity = std::min(capacity, kOptionCapacity);
    std::string text = BundleOptionText(player.size(), options);
    if (text.size() > capacity) {
        *error = "the options are too long (" + std::to_string(text.size()) + " of at most " +
                 std::to_string(capacity) + " characters)";
        return false;
    }
    out->clear();
    out->reserve(player.size() + movie.size());
    out->insert(out->end(), player.begin(), player.end());
    if (windows) {
        // UTF-16 characters; the rest of the padding stays '~', where the
        // player cuts the text.
        for (size_t i = 0; i < text.size(); ++i) {
            (*out)[at + 2 * i] = static_cast<uint8_t>(text[i]);
            (*out)[at + 2 * i + 1] = 0;
        }
    } else {
        // The text, its terminator, and the rest of the padding left as it was.
        std::memcpy(out->data() + at, text.data(), text.size());
        (*out)[at + text.size()] = 0;
    }
    out->insert(out->end(), movie.begin(), movie.end());
    return true;
}

}  // namespace vemo::bundle
