// The page's program: the same entry function as in the window, on the
// web backend. When it ends the page offers to play again.
#include <emscripten.h>

#include "app/entry.h"
#include "platform/backend.h"
#include "platform/user.h"
#include "platform/web/web_backend.h"

EM_JS(void, jsProgramEnded, (int status), { Module.programEnded(status); });

int main() {
  using namespace nebla;
  platform::web::WebBackend backend;
  platform::setBackend(&backend);
  int status = app::WinMain(platform::GetModuleHandleA(nullptr), nullptr, nullptr, 0);
  platform::setBackend(nullptr);
  jsProgramEnded(status);
  return status;
}
