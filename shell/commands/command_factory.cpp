#include "shell/commands/command_factory.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>

namespace {

struct Entry {
  const char* word;
  CommandCreator create;
};

Entry g_words[] = {
    {"play", nullptr},        {"stopplay", nullptr},    {"record", nullptr},
    {"stoprecord", nullptr},  {"checkaudio", nullptr},  {"getconfig", nullptr},
    {"maximize", nullptr},    {"setkey", nullptr},      {"readkey", nullptr},
    {"restored", nullptr},    {"close", nullptr},       {"getvolume", nullptr},
    {"setvolume", nullptr},   {"upload", nullptr},      {"test", nullptr},
    {"getapps", nullptr},     {"downloadapp", nullptr}, {"download", nullptr},
    {"runapp", nullptr},      {"stopapp", nullptr},     {"postrequest", nullptr},
    {"readfile", nullptr},    {"evaluate", nullptr},    {"saveanswer", nullptr},
    {"uploadanswer", nullptr}, {"startexam", nullptr},  {"getanswer", nullptr},
    {"opendialog", nullptr},
};

}  // namespace

std::unique_ptr<Command> CommandFactory::CreateCommand(const CommandRequest& request) const {
  for (const Entry& entry : g_words) {
    if (strcasecmp(request.name.c_str(), entry.word) == 0 &&
        request.name.size() == std::char_traits<char>::length(entry.word)) {
      if (!entry.create) break;
      std::unique_ptr<Command> command = entry.create(request);
      command->complete_ = true;
      return command;
    }
  }
  throw CmdException("未知的命令类型");
}

void CommandFactory::Register(const char* word, CommandCreator create) {
  for (Entry& entry : g_words) {
    if (strcasecmp(word, entry.word) == 0) {
      entry.create = create;
      return;
    }
  }
  std::fprintf(stderr, "no such command word: %s\n", word);
  std::abort();
}
