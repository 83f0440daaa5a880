#include "platform/SoundCapture.h"

#include "platform/AlsaCapture.h"
#include "platform/PulseMonitorCapture.h"

namespace vx {

std::unique_ptr<SoundCapture> CreateSoundCapture(SoundSource source) {
  if (source == SoundSource::SpeakerMonitor) {
    return CreatePulseMonitorCapture();
  }
  return CreateAlsaCapture();
}

}  // namespace vx
