#pragma once

// One pass over one input: decodes it through GStreamer, hands the frames to
// kelvoframegrab elements and takes every still in one forward pass.
//
// Speed: the pass starts with a seek to the key frame at or before the first
// still and seeks forward again when the next still lies far ahead, and it
// stops as soon as every still is taken. Seeking never changes the frame a
// still holds: each seek snaps back to a key frame no later than the first
// frame the timing rule could take for the target (see SeekPoint), and
// every frame from that key frame on is decoded and reaches the filter with
// its true stream time. A key frame right at the target costs no frame
// before it; a target between key frames costs the frames from the last key
// frame on, which decoding needs anyway.
//
// The main still and the snapshots go to two separate elements: a filter
// stops its main grab once any still of its own is written, and a snapshot
// earlier than the main still must not cancel it.
//
// A still that looks for the sharpest of N frames either side is 2N + 1 shots, one request per frame
// around its target, taken as pixels only; each shot's sharpness is measured
// on the thread that takes it and only the sharpest so far is kept, so a
// long interval run holds one frame per still in flight, not 2N + 1.

#include <gst/gst.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelvo/grab.h"

namespace kelvo::grab::detail {

// One still to take, with its request's time resolved (frame numbers turned
// into times). Shots that should not be written (pixels only) have an empty
// request.file.
struct Wanted {
  Request request;
  double time = 0.0;         // the time to ask the element for
  int64_t frameNumber = -1;  // known when asked by number
};

struct PassSettings {
  std::string input;        // the file as given, for messages
  std::string sourceName;   // recorded in the stills' metadata
  std::optional<int64_t> creationTime;
  double period = 0.0;      // frame period, seconds, for the sharpest frame; 0: unknown
};

// Takes every still of `wanted` (in time order, the main still first on a
// tie). Throws Error when nothing at all could be decoded.
std::vector<Still> RunPass(const std::vector<Wanted>& wanted, const Options& options,
                           const PassSettings& settings);

inline constexpr double kSeekGap = 3.0;           // decode through shorter gaps instead of seeking
inline constexpr double kLargestHalfFrame = 0.5;  // seconds, at 1 frame per second
inline constexpr double kRequestLead = 0.005;     // a request's interval opens this early
inline constexpr double kSeekMargin = 0.001;      // for rounding to stream time units
inline constexpr double kPeriodShare = 0.75;      // see SeekPoint
inline constexpr double kSkipMargin = 1.0;        // seconds: frames this far from every still may go undecoded
inline constexpr double kQuietCheck = 1.0;        // seconds of quiet before the streaming tasks are looked at

// Where to seek (snapping back to a key frame) for a still at `target`
// seconds: the main still or a request, with the half frame the grab
// element uses and the frame period the caps declare (0 when unknown: a
// variable rate, or no caps yet, and the seek point is then the earliest
// time a frame could be taken at).
double SeekPoint(double target, bool main, double halfFrame, double period);

// Whether every streaming task of the pipeline has stopped or paused: then
// no thread is left to carry it on, and what would end a pass (a frame, an
// error, the end) can no longer come. A demuxer that fails while the
// decoder is still trying it out pauses its task and posts its error, and
// the decoder may drop that error as it would for an element it rejects.
bool NoTaskRunning(GstElement* pipeline);

// The source and demuxer for a file whose first box says it is MP4 or
// QuickTime, named "source" and "demux", not yet in a bin (*demux gets the
// demuxer); nullptr for any other file, or when the elements are missing.
// Such files, nearly every video people grab from, are read without the
// automatic decoder: it would find their type by trying a hundred type
// finders, load plug-ins to choose among, and put a queue with a thread of
// its own between the demuxer and the decoder, so that even a grab held to
// one decoder thread kept two cores busy.
GstElement* DirectSource(const std::string& file, GstElement** demux);

// Whether a pad of the demuxer DirectSource gives carries a video track.
bool VideoTrack(GstPad* pad);

// Sets what the grab asks of a libav decoder (see the definition); any other
// element is left as it is.
void ConfigureDecoder(GstElement* element, int threads);

// Adds to `bin` a decoder for the demuxed stream on `pad` and links it.
// H.264 as the MP4 demuxer gives it goes to avdec_h264, whose source pad is
// returned (a reference; the caller links it on). Anything else goes to a
// decodebin, which finds its decoder and exposes the decoded pad later:
// `onPad` and `onNoMorePads` (unless nullptr) are connected to its "pad-added" and
// "no-more-pads" with `data`, and nullptr is returned.
GstPad* DecodeStream(GstBin* bin, GstPad* pad, int threads, GCallback onPad, GCallback onNoMorePads,
                     gpointer data);

// Makes sure GStreamer is initialised and the element registered from this
// library, once per process. Throws Error when another copy of the element
// (the plug-in file) got there first.
void InitGstreamer();

}  // namespace kelvo::grab::detail
