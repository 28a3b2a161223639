#include "player/closing_image.h"

#if defined(VEMO_HAVE_CLOSING_IMAGE)
#include "vemo/closing_image_data.h"  // made by vemo-make-demo while building
#endif

namespace vemo::player {

std::vector<uint8_t> ClosingImageMovie() {
#if defined(VEMO_HAVE_CLOSING_IMAGE)
    return std::vector<uint8_t>(kClosingImageMovie, kClosingImageMovie + kClosingImageMovieSize);
#else
    return {};
#endif
}

}  // namespace vemo::player
