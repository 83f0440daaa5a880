// vorlixa-tonesteps: plays STEPS cycles of silence then full-scale noise (LOUD ms) into
// the default output of the sound server, unsigned 8-bit stereo at 44100 Hz, in real time.
// Each silence lasts QUIET ms plus a random part of up to 25 ms, so the steps fall on
// every phase of a 25 ms loop. For every step from silence to noise it prints "step T": T
// is the moment (CLOCK_MONOTONIC, seconds) at which the first loud sample is played, that
// is, the time of writing it plus the stream's playback latency at that moment.
// Usage: vorlixa-tonesteps [STEPS [QUIET [LOUD]]]   (defaults 40 300 200)

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kChunkFrames = 441;  // 10 ms per write

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int Argument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::atoi(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int steps = Argument(argc, argv, 1, 40);
  const auto quietFrames = static_cast<std::uint32_t>(Argument(argc, argv, 2, 300)) * kRate / 1000;
  const auto loudFrames = static_cast<std::uint32_t>(Argument(argc, argv, 3, 200)) * kRate / 1000;

  const pa_sample_spec sampleFormat{.format = PA_SAMPLE_U8, .rate = kRate, .channels = 2};
  // A short buffer, as a player that keeps its latency low has.
  const pa_buffer_attr attributes{.maxlength = UINT32_MAX,
                                  .tlength = kChunkFrames * 2 * 4,
                                  .prebuf = UINT32_MAX,
                                  .minreq = UINT32_MAX,
                                  .fragsize = UINT32_MAX};
  int error = 0;
  pa_simple* stream = pa_simple_new(nullptr, "vorlixa-tonesteps", PA_STREAM_PLAYBACK, nullptr,
                                    "Steps", &sampleFormat, nullptr, &attributes, &error);
  if (stream == nullptr) {
    std::fprintf(stderr, "vorlixa-tonesteps: %s\n", pa_strerror(error));
    return 1;
  }

  std::mt19937 random(7);
  std::uniform_int_distribution<int> sample(0, 255);
  std::uniform_int_distribution<std::uint32_t> jitter(0, kRate / 40);
  std::vector<std::uint8_t> chunk(std::size_t{kChunkFrames} * 2);
  std::uint64_t frame = 0;  // frames written so far
  std::uint64_t step = quietFrames + jitter(random);
  std::uint64_t quietAgain = step + loudFrames;
  for (int done = 0; done < steps;) {
    bool stepHere = false;
    for (std::uint32_t i = 0; i < kChunkFrames; ++i, ++frame) {
      if (frame == quietAgain) {
        step = frame + quietFrames + jitter(random);
        quietAgain = step + loudFrames;
      }
      const bool loud = frame >= step;
      if (frame == step) {
        // Played once all written before it has: the latency now, plus its place here.
        const pa_usec_t latency = pa_simple_get_latency(stream, &error);
        std::printf("step %.6f\n", MonotonicSeconds() + static_cast<double>(latency) / 1e6 +
                                       static_cast<double>(i) / kRate);
        stepHere = true;
      }
      const std::size_t at = std::size_t{2} * i;
      chunk[at] = loud ? static_cast<std::uint8_t>(sample(random)) : 128;
      chunk[at + 1] = loud ? static_cast<std::uint8_t>(sample(random)) : 128;
    }
    if (stepHere) {
      std::fflush(stdout);
      ++done;
    }
    if (pa_simple_write(stream, chunk.data(), chunk.size(), &error) < 0) {
      std::fprintf(stderr, "vorlixa-tonesteps: %s\n", pa_strerror(error));
      pa_simple_free(stream);
      return 1;
    }
  }
  pa_simple_drain(stream, &error);
  pa_simple_free(stream);
  return 0;
}
