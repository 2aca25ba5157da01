// One evaluation request from the client, from its JSON text to the answer the engine sends:
// checks the request's files, scores the recording against its paper, writes the dist file and
// the user model.
#pragma once

#include <string>

namespace mirvane {

class Recogniser;

class Scorer {
 public:
  // |recogniser| may be null or not loaded: every request then answers kModelUnavailable.
  explicit Scorer(Recogniser* recogniser) : recogniser_(recogniser) {}

  // The answer's text: {"err_code": code, "identity": the request's}.
  std::string Handle(const std::string& request);

 private:
  Recogniser* recogniser_;
};

// The 0..100 goodness of an alignment score per frame (0 is perfect; about -1 for a sentence
// read well, -3 for its words swapped, -7 for wrong words).
int Goodness(double alignmentScore);

}  // namespace mirvane
