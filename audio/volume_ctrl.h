// The speakers' and the microphone's volume and mute, over ALSA's simple mixer of the default
// control device: the speakers are its "Master" element (else "PCM", "Speaker", "Headphone"),
// the microphone its "Capture" element (else "Mic"). Volumes are whole percentages.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace org_trellik {

class CVolumeCtrl {
 public:
  // Mode 0: no mixer, so every read gives 0 (mute: false) and every change fails.
  static constexpr int kNoAccess = 0;
  // The default device's volume: percentages clamped and rounded to the nearest step, reading
  // or setting a volume unmutes the device first (the commands do that).
  static constexpr int kEndpoint = 2;

  // Looks for a mixer with a speakers' or a microphone's element on |device| when first asked,
  // not before: the look opens the sound system, which the client's start must not wait for.
  // A look that finds none is made again at the next call, as the sound server may come up
  // after the client; one that finds a mixer holds for the run.
  explicit CVolumeCtrl(const std::string& device = "default");
  virtual ~CVolumeCtrl();
  CVolumeCtrl(const CVolumeCtrl&) = delete;
  CVolumeCtrl& operator=(const CVolumeCtrl&) = delete;

  int mode() const;

  int GetSpeakerVolume();
  bool SetSpeakerVolume(int percent);
  bool IsSpeakerMuted();
  bool SetSpeakerMute(bool mute);
  int GetMicVolume();
  bool SetMicVolume(int percent);
  bool IsMicMuted();
  bool SetMicMute(bool mute);

 private:
  int GetVolume(bool capture);
  bool SetVolume(bool capture, int percent);
  bool IsMuted(bool capture);
  bool SetMute(bool capture, bool mute);

  const std::string device_;
  mutable std::mutex probeLock_;  // one look at a time; taken only while no mixer was found
  mutable std::atomic<int> mode_{kNoAccess};  // becomes kEndpoint under probeLock_, then stays
  // The mixer is opened afresh for every call, so a change of the default device is followed;
  // one call at a time.
  std::mutex mixerLock_;
};

// A raw mixer value as a whole percentage of the range |min|..|max|, rounded to the nearest;
// 0 for an empty range. Ranges of fewer than 100 steps read without dividing by zero.
int PercentFromRaw(long raw, long min, long max);
// The raw value nearest to |percent| (clamped to 0..100) of the range |min|..|max|.
long RawFromPercent(int percent, long min, long max);

}  // namespace org_trellik
