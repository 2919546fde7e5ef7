#include "msc_audio_fixtures.h"

#include <cstdlib>

namespace {
#include "msc_end_to_end_fixtures.inc"
}  // namespace

const EndToEndAudio& AudioFixture(const std::string& kind) {
  for (const EndToEndAudio& audio : kEndToEndAudio) {
    if (kind == audio.kind) return audio;
  }
  std::abort();
}
