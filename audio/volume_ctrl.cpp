#include "audio/volume_ctrl.h"

#include <alsa/asoundlib.h>

#include <memory>

namespace org_trellik {

namespace {

const char* const kSpeakerElements[] = {"Master", "PCM", "Speaker", "Headphone"};
const char* const kMicElements[] = {"Capture", "Mic"};

struct MixerCloser {
  void operator()(snd_mixer_t* mixer) const { snd_mixer_close(mixer); }
};
using Mixer = std::unique_ptr<snd_mixer_t, MixerCloser>;

Mixer OpenMixer(const std::string& device) {
  snd_mixer_t* raw = nullptr;
  if (snd_mixer_open(&raw, 0) < 0) return nullptr;
  Mixer mixer(raw);
  if (snd_mixer_attach(raw, device.c_str()) < 0 ||
      snd_mixer_selem_register(raw, nullptr, nullptr) < 0 || snd_mixer_load(raw) < 0)
    return nullptr;
  return mixer;
}

// The first element of the list that has the volume wanted; null when none has.
snd_mixer_elem_t* FindElement(snd_mixer_t* mixer, bool capture) {
  snd_mixer_selem_id_t* id = nullptr;
  snd_mixer_selem_id_alloca(&id);
  auto search = [&](const char* name) -> snd_mixer_elem_t* {
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, name);
    snd_mixer_elem_t* element = snd_mixer_find_selem(mixer, id);
    if (!element) return nullptr;
    bool has = capture ? snd_mixer_selem_has_capture_volume(element)
                       : snd_mixer_selem_has_playback_volume(element);
    return has ? element : nullptr;
  };
  if (capture) {
    for (const char* name : kMicElements)
      if (snd_mixer_elem_t* element = search(name)) return element;
  } else {
    for (const char* name : kSpeakerElements)
      if (snd_mixer_elem_t* element = search(name)) return element;
  }
  return nullptr;
}

// The one channel read of a device: the first (left, or the only one).
constexpr snd_mixer_selem_channel_id_t kFirstChannel = SND_MIXER_SCHN_FRONT_LEFT;

}  // namespace

int PercentFromRaw(long raw, long min, long max) {
  if (max <= min) return 0;
  if (raw < min) raw = min;
  if (raw > max) raw = max;
  long long range = static_cast<long long>(max) - min;
  return static_cast<int>(((static_cast<long long>(raw) - min) * 100 + range / 2) / range);
}

long RawFromPercent(int percent, long min, long max) {
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  if (max <= min) return min;
  long long range = static_cast<long long>(max) - min;
  return static_cast<long>(min + (range * percent + 50) / 100);
}

CVolumeCtrl::CVolumeCtrl(const std::string& device) : device_(device) {}

int CVolumeCtrl::mode() const {
  if (mode_.load() == kEndpoint) return kEndpoint;
  std::lock_guard<std::mutex> lock(probeLock_);
  if (mode_.load() == kNoAccess) {
    Mixer mixer = OpenMixer(device_);
    if (mixer && (FindElement(mixer.get(), false) || FindElement(mixer.get(), true)))
      mode_.store(kEndpoint);
  }
  return mode_.load();
}

CVolumeCtrl::~CVolumeCtrl() = default;

int CVolumeCtrl::GetVolume(bool capture) {
  if (mode() == kNoAccess) return 0;
  std::lock_guard<std::mutex> lock(mixerLock_);
  Mixer mixer = OpenMixer(device_);
  snd_mixer_elem_t* element = mixer ? FindElement(mixer.get(), capture) : nullptr;
  if (!element) return 0;
  long min = 0, max = 0, raw = 0;
  int got = capture ? snd_mixer_selem_get_capture_volume_range(element, &min, &max)
                    : snd_mixer_selem_get_playback_volume_range(element, &min, &max);
  if (got < 0) return 0;
  got = capture ? snd_mixer_selem_get_capture_volume(element, kFirstChannel, &raw)
                : snd_mixer_selem_get_playback_volume(element, kFirstChannel, &raw);
  return got < 0 ? 0 : PercentFromRaw(raw, min, max);
}

bool CVolumeCtrl::SetVolume(bool capture, int percent) {
  if (mode() == kNoAccess) return false;
  std::lock_guard<std::mutex> lock(mixerLock_);
  Mixer mixer = OpenMixer(device_);
  snd_mixer_elem_t* element = mixer ? FindElement(mixer.get(), capture) : nullptr;
  if (!element) return false;
  long min = 0, max = 0;
  int got = capture ? snd_mixer_selem_get_capture_volume_range(element, &min, &max)
                    : snd_mixer_selem_get_playback_volume_range(element, &min, &max);
  if (got < 0) return false;
  long raw = RawFromPercent(percent, min, max);
  return (capture ? snd_mixer_selem_set_capture_volume_all(element, raw)
                  : snd_mixer_selem_set_playback_volume_all(element, raw)) >= 0;
}

bool CVolumeCtrl::IsMuted(bool capture) {
  if (mode() == kNoAccess) return false;
  std::lock_guard<std::mutex> lock(mixerLock_);
  Mixer mixer = OpenMixer(device_);
  snd_mixer_elem_t* element = mixer ? FindElement(mixer.get(), capture) : nullptr;
  if (!element) return false;
  bool has = capture ? snd_mixer_selem_has_capture_switch(element)
                     : snd_mixer_selem_has_playback_switch(element);
  if (!has) return false;
  int on = 1;
  int got = capture ? snd_mixer_selem_get_capture_switch(element, kFirstChannel, &on)
                    : snd_mixer_selem_get_playback_switch(element, kFirstChannel, &on);
  return got >= 0 && on == 0;
}

// Like the endpoint volume's mute, a change that cannot be made is not reported: the volume
// change that follows it is.
bool CVolumeCtrl::SetMute(bool capture, bool mute) {
  if (mode() == kNoAccess) return false;
  std::lock_guard<std::mutex> lock(mixerLock_);
  Mixer mixer = OpenMixer(device_);
  snd_mixer_elem_t* element = mixer ? FindElement(mixer.get(), capture) : nullptr;
  if (!element) return true;
  int on = mute ? 0 : 1;
  if (capture && snd_mixer_selem_has_capture_switch(element))
    snd_mixer_selem_set_capture_switch_all(element, on);
  else if (!capture && snd_mixer_selem_has_playback_switch(element))
    snd_mixer_selem_set_playback_switch_all(element, on);
  return true;
}

int CVolumeCtrl::GetSpeakerVolume() { return GetVolume(false); }
bool CVolumeCtrl::SetSpeakerVolume(int percent) { return SetVolume(false, percent); }
bool CVolumeCtrl::IsSpeakerMuted() { return IsMuted(false); }
bool CVolumeCtrl::SetSpeakerMute(bool mute) { return SetMute(false, mute); }
int CVolumeCtrl::GetMicVolume() { return GetVolume(true); }
bool CVolumeCtrl::SetMicVolume(int percent) { return SetVolume(true, percent); }
bool CVolumeCtrl::IsMicMuted() { return IsMuted(true); }
bool CVolumeCtrl::SetMicMute(bool mute) { return SetMute(true, mute); }

}  // namespace org_trellik
