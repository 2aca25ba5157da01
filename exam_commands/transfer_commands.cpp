#include "exam_commands/transfer_commands.h"

#include "exam_commands/download_commands.h"
#include "exam_commands/server_commands.h"
#include "exam_commands/upload_answer_command.h"
#include "shell/commands/main_state.h"
#include "shell/core/helpers.h"

void RegisterTransferCommands() {
  CommandFactory::Register("upload", &MakeCommand<ConcreteCommandPutFile>);
  CommandFactory::Register("downloadapp", &MakeCommand<ConcreteCommandDownloadApp>);
  CommandFactory::Register("download", &MakeCommand<ConcreteCommandDownloadFile>);
  CommandFactory::Register("postrequest", &MakeCommand<ConcreteCommandPostRequest>);
  CommandFactory::Register("uploadanswer", &MakeCommand<ConcreteCommandUploadAnswer>);
}

std::size_t ResponseBodySink(char* data, std::size_t size, std::size_t count, void* userData) {
  int taken = AppendResponseBody(data, size, count, static_cast<std::string*>(userData));
  return taken < 0 ? 0 : static_cast<std::size_t>(taken);
}

std::string CompleteServerUrl(const std::string& url, bool dropLeadingSlash) {
  if (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0) return url;
  std::string path = url;
  if (dropLeadingSlash && !path.empty() && path[0] == '/') path.erase(0, 1);
  return g_pMainDlg->Session().baseUrl + path;
}
