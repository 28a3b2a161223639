// Decoding on more than one thread: a helper thread that runs one job at a
// time, and the plane helper with which DecodeFrameVideoOnThreads decodes
// the planes of a frame whose starts are known on two threads at once. The
// results (planes, change map, unchanged count, faults) are those of
// DecodeFrameVideo, whatever runs where.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "vemo/frame_planes.h"
#include "vemo/video_decoder.h"

namespace vemo {

// Processor cores this machine offers (at least 1).
uint32_t MachineCores();

// A thread that runs the jobs handed to it one after another. Run hands over
// a job (waiting for the one before it to end); Wait returns when the last
// job has ended. The destructor waits and ends the thread.
class HelperThread {
  public:
    HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    ~HelperThread();

    // False when the thread cannot be started (the job is then not run).
    bool Run(std::function<void()> job);
    void Wait();

  private:
    void Body();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::function<void()> job_;
    bool has_job_ = false;
    bool stopping_ = false;
};

// What a second thread needs to decode planes beside the caller's: its own
// bundle buffers and private change maps for one picture size.
class PlaneHelper {
  public:
    PlaneHelper() = default;
    PlaneHelper(const PlaneHelper&) = delete;
    PlaneHelper& operator=(const PlaneHelper&) = delete;
    ~PlaneHelper();

    // played_width sizes the bundle buffers; map_bytes is the change map's
    // size (blocks across x blocks down). False when memory runs out.
    bool Open(uint32_t played_width, uint32_t map_bytes);
    // Bytes this helper holds (for memory statistics).
    uint64_t MemoryBytes() const;

    HelperThread thread;
    BundleBuffers bundles;
    std::vector<uint8_t> luma_map;    // marks of the alpha and luma planes
    std::vector<uint8_t> chroma_map;  // marks of the chroma planes
    std::vector<uint8_t> before_cb;   // chroma_map as the second chroma plane found it
    std::vector<uint8_t> plane_copy;  // the second chroma plane before an in-place decode
    uint32_t bundle_bytes = 0;
};

// DecodeFrameVideo with the helper's thread taking part: when the luma
// plane's size is in the video part (version "i", not grayscale), the alpha
// and luma planes are decoded on one thread while the chroma planes are
// decoded on the other. Otherwise, or with no helper, as DecodeFrameVideo.
uint32_t DecodeFrameVideoOnThreads(PlaneHelper* helper, FramePlanes* planes, uint8_t* change_map,
                                   uint32_t map_stride, const uint8_t* video, uint32_t size,
                                   bool key_frame, const BundleBuffers& bundles,
                                   uint32_t open_flags, uint32_t header_flags,
                                   VideoReport* report = nullptr);

}  // namespace vemo
