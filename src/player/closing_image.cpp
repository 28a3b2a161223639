#include "closing_image.h"

#include "vemo/closing_image_data.h"  // made by vemo-make-demo while building

namespace vemo::player {

std::vector<uint8_t> ClosingImageMovie() {
    return std::vector<uint8_t>(kClosingImageMovie, kClosingImageMovie + kClosingImageMovieSize);
}

}  // namespace vemo::player
