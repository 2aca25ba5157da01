// The engine's request text is compared byte for byte by the engine's parser and by logs, so its
// exact form is part of the protocol.
#include <gtest/gtest.h>

#include "shell/commands/eval_item.h"

TEST(EvalItem, RequestIsCompactJsonInNameOrderWithoutLineFeed) {
  EvalItem item;
  item.identity = "q1";
  item.snd_file = "/home/a/answer/q1.wav";
  item.paper_file = "/home/a/cache/paper.json";
  item.dist_file = "/home/a/answer/q1.json";
  item.usermodel_file = "";
  item.category = "simple_expression";
  item.eval_params = "{\"k\":1}";
  EXPECT_EQ(item.toJson(),
            "{\"category\":\"simple_expression\",\"dist_file\":\"/home/a/answer/q1.json\","
            "\"eval_params\":\"{\\\"k\\\":1}\",\"identity\":\"q1\",\"notify_energy\":0,"
            "\"paper_file\":\"/home/a/cache/paper.json\",\"snd_file\":\"/home/a/answer/q1.wav\","
            "\"usermodel_file\":\"\"}");
}

TEST(EvalItem, TextsKeepTheirCharactersAndLineFeedsStayEscaped) {
  EvalItem item;
  item.identity = "题\n1";
  item.notify_energy = -7;
  std::string text = item.toJson();
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_NE(text.find("\"identity\":\"题\\n1\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"notify_energy\":-7"), std::string::npos) << text;
}
