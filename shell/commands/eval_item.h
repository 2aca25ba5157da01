// One recording queued for speech evaluation, as the record command leaves it for evaluate.
#pragma once

#include <cstdint>
#include <string>

struct EvalItem {
  std::string identity;        // the page's own name for the item, echoed in every result
  std::string snd_file;        // full paths; empty when the page named no such file
  std::string paper_file;
  std::string dist_file;
  std::string usermodel_file;
  std::string category;
  std::string eval_params;     // handed to the engine unchanged
  int32_t notify_energy = 0;

  // The engine's request: compact JSON, members in name order, no line feed.
  std::string toJson() const;
};
