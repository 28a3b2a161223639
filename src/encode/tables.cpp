// The constant tables of the video bitstream are the decoder's own: the
// writer sends exactly the codes and orders the reader takes.
#include "tables.h"

#include "vemo/video_tables.h"
#include "vemo/video_writer.h"

namespace vemo {

namespace encode {
const uint8_t (&kCodeLength)[16][16] = video::kCodeLengths;
const uint8_t (&kCodeValue)[16][16] = video::kCodeValues;
}  // namespace encode

const uint8_t (&kCoefficientScan)[64] = video::kCoefficientScan;
const uint8_t (&kRunScan)[16][64] = video::kRunScans;

}  // namespace vemo
