#include "shell/commands/eval_item.h"

#include <json/json.h>

#include "shell/commands/command.h"
#include "shell/core/helpers.h"

std::string EvalItem::toJson() const {
  Json::Value request(Json::objectValue);
  request["identity"] = identity;
  request["snd_file"] = snd_file;
  request["paper_file"] = paper_file;
  request["dist_file"] = dist_file;
  request["usermodel_file"] = usermodel_file;
  request["category"] = category;
  request["eval_params"] = eval_params;
  request["notify_energy"] = notify_energy;
  std::string text = WriteJson(request);
  ReplaceAll(text, "\n", "");
  return text;
}
