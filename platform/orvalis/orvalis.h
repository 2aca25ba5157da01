// The sound library: plays sound files, records the microphone, checks a recording's quality,
// and reports what happens afterwards to one registered procedure, on a thread of its own.
// Texts are wide (wchar_t); the request text handed to an operation is given back unchanged with
// every notification about that operation.
#pragma once

#define ORVALIS_EXPORT __attribute__((visibility("default")))

// Notification numbers. Levels, waveforms and positions come every 80 ms (12.5 a second) while
// sound plays or is recorded, each switched off by its name below; their texts hold digits,
// "-" and "," only.
enum {
  SND_NOTIFY_ENERGY = 16898,      // text: the level of the last 80 ms, a whole number 0..100
                                  // (-60 dBFS and below 0, full scale 100, linear in dB)
  SND_NOTIFY_WAVEFORM = 16900,    // text: 32 comma-separated 16-bit sample values, the one of
                                  // greatest magnitude in each slice of the last 80 ms
  SND_NOTIFY_PLAYPOS = 16902,     // text: the position being heard in tenths of a second
  SND_NOTIFY_PLAY_END = 16916,    // text: {"err_code":0} or {"err_code":39169}
  SND_NOTIFY_RECORD_END = 16920,  // text: as SND_NOTIFY_PLAY_END
  SND_NOTIFY_AUDIOCHECK = 16934,  // text: {"err_code":<one of the check results below>}
};

// The end notices' error code: the file could not be read, the device failed, or the
// operation was stopped.
enum { SND_ERR_FAILED = 39169 };

// The audio check's results (SND_NOTIFY_AUDIOCHECK's "err_code"), judged in this order from the
// recording's level in 20 ms pieces (dBFS: decibels below full scale). The voice's level is
// that of the loudest pieces but one in twenty, the floor that of the quietest but one in ten.
enum {
  SND_CHECK_GOOD = 0,       // none of the faults below
  SND_CHECK_TOO_SHORT = 1,  // shorter than one second
  SND_CHECK_SILENT = 2,     // the voice below -55 dBFS: no microphone, or it is muted
  SND_CHECK_CLIPPED = 3,    // more than 0.1% of the samples sit at full scale: the input overloads
  SND_CHECK_TOO_QUIET = 4,  // the voice stays below -35 dBFS: too far away or the volume too low
  SND_CHECK_NOISY = 5,      // the floor within 15 dB of the voice: noise masks it
  // The file cannot be read as sound, or the check was stopped: SND_ERR_FAILED.
};

extern "C" {

// The procedure that receives every notification: (message number, library text, request
// text). Registered with sndSetParam(L"notify", its address as decimal text).
typedef void (*SndNotifyProc)(int message, const wchar_t* text, const char* request);

// Names: "notify" (the procedure's address as decimal text), "notify_energy",
// "notify_waveform", "notify_curplaypos" ("1" on, "0" off). Returns 0 when taken.
ORVALIS_EXPORT int sndSetParam(const wchar_t* name, const wchar_t* value);
// sndPlay, sndRecord and sndAudiocheck first stop the operation that is running, as sndStop
// does: one operation at a time.

// Starts playing |path| (any file libsndfile reads: WAV, FLAC, Ogg, MP3, ...) through the sound
// device and returns at once; |playValue| receives the file's length in tenths of a second.
// Returns 0 when playback started. When the file cannot be read or the device cannot be opened
// it returns -1 and SND_NOTIFY_PLAY_END with SND_ERR_FAILED still follows, so a caller that only
// listens learns of it too.
ORVALIS_EXPORT int sndPlay(const wchar_t* path, int* playValue, const char* request);
// Starts recording |length| tenths of a second (0 or less: until stopped) into |path| (16 kHz
// mono 16-bit WAV, whose header is kept valid as it grows) and returns at once. Returns 0 when
// recording started; -1, with no notification following, when the file cannot be made or the
// device cannot be opened.
ORVALIS_EXPORT int sndRecord(const wchar_t* path, int length, const char* request);
// Starts the quality check of the recording |path|; the result follows as
// SND_NOTIFY_AUDIOCHECK (SND_CHECK_* or SND_ERR_FAILED) and |result| is set to 0. Returns 0 when
// the check started.
ORVALIS_EXPORT int sndAudiocheck(const wchar_t* path, int* result, const char* request);
// Stops whatever is playing, recording or checking; the stopped operation still sends its end
// notice. Returns once the operation's thread has ended, so no notification of it arrives
// afterwards. Returns 0 on success.
ORVALIS_EXPORT int sndStop();
}
