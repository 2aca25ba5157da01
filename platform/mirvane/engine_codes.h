// The engine's answer codes ("err_code" of every result), one place for the engine, its tests
// and the pages that read them.
#pragma once

namespace mirvane {

enum EngineCode : int {
  kScored = 0,               // scored, also when the speech does not match its paper at all
  kRequestInvalid = 1,       // the request is not a JSON object with texts where texts belong
  kRecordingMissing = 2,     // no file at snd_file
  kRecordingUnreadable = 3,  // not a regular file, or no sound that can be decoded
  kRecordingSilent = 4,      // nothing louder than the silence threshold
  kRecordingTooShort = 5,    // shorter than the shortest answer that can be scored
  kPaperMissing = 6,         // no paper_file given, or no file there
  kPaperInvalid = 7,         // not a paper of this category, or no word the model knows
  kUnknownCategory = 8,
  kOutputRefused = 9,        // dist_file or usermodel_file is no regular file, or is an input
  kOutputFailed = 10,        // the dist file could not be written
  kModelUnavailable = 11,    // the recogniser's model could not be loaded
};

}  // namespace mirvane
