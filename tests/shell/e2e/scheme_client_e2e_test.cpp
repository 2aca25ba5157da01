// The real client registers no resource callbacks: every "qnt" request fails, whatever asks.
#include <gtest/gtest.h>

#include "tests/shell/e2e/client_harness.h"

namespace {

const char kProbe[] = R"(<!DOCTYPE html><html><head><meta charset="utf-8"></head><body><script>
var base = location.origin;
function image(url){return new Promise(function(ok){var i=new Image();
  i.onload=function(){ok('loaded');};i.onerror=function(){ok('failed');};i.src=url;});}
function script(url){return new Promise(function(ok){var s=document.createElement('script');
  s.onload=function(){ok('loaded');};s.onerror=function(){ok('failed');};s.src=url;
  document.head.appendChild(s);});}
async function fetched(url,headers){try{await (await fetch(url,{headers:headers||{}})).arrayBuffer();
  return 'loaded';}catch(e){return 'failed';}}
(async function(){
  var r=[await image('qnt://exam/app1/pic.png'), await script('qnt://exam/app1/lib.js'),
         await fetched('qnt://exam/app1/page.html'), await fetched('qnt://exam/app1/start'),
         await fetched('qnt://exam/app1/v.mp4',{'Range':'bytes=0-99'}),
         await fetched('qnt://exam/app1/v.mp4')];
  new Image().src = base + '/loaded?u=' + encodeURIComponent('qnt:' + r.join(','));
})();
</script></body></html>)";

TEST(ClientScheme, EveryQntRequestFailsWithoutResourceCallbacks) {
  TestServer server;
  server.SetPage("/probe.html", kProbe);
  ClientInstall install("[HomePage]\nhome=" + server.base() +
                        "/probe.html\n[Config]\nMutex=0\nServiceUrl=http://127.0.0.1:9/\n"
                        "NavigationBar=0\n");
  install.Start();
  std::string result =
      server.WaitLoaded([](const std::string& u) { return u.rfind("qnt:", 0) == 0; }, 90);
  EXPECT_EQ(result, "qnt:failed,failed,failed,failed,failed,failed");
}

}  // namespace
