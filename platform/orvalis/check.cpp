// The audio check of a recording: read whole, judged from its levels.
#include <vector>

#include "platform/orvalis/levels.h"
#include "platform/orvalis/operations.h"

namespace orvalis {

void RunCheck(const std::string& path, const Context& context) {
  int code = SND_ERR_FAILED;
  try {
    SF_INFO info{};
    SndFile file(sf_open(path.c_str(), SFM_READ, &info));
    if (file && info.channels > 0 && info.samplerate > 0) {
      std::vector<float> mono, block(4096 * size_t(info.channels));
      sf_count_t n;
      while (!context.stop.Raised() && (n = sf_readf_float(file.get(), block.data(), 4096)) > 0)
        for (sf_count_t f = 0; f < n; ++f) {
          float sum = 0;
          for (int c = 0; c < info.channels; ++c) sum += block[size_t(f * info.channels + c)];
          mono.push_back(sum / float(info.channels));
        }
      if (!context.stop.Raised() && sf_error(file.get()) == SF_ERR_NO_ERROR)
        code = CheckRecording(mono, info.samplerate);
    }
  } catch (...) {
  }
  context.NotifyEnd(SND_NOTIFY_AUDIOCHECK, code);
}

}  // namespace orvalis
